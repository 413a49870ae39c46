#include "driver/Driver.h"

namespace zelvano {

namespace {

constexpr int kEngineTickMs = 100;
constexpr int kSecondMs = 1000;

}  // namespace

Driver::Driver(PagingCore& core, QObject* parent)
    : QObject(parent), core_(core), engineTimer_(this), secondTimer_(this) {
    engineTimer_.setObjectName("EngineTick");
    secondTimer_.setObjectName("SecondTick");
    for (auto [timer, ms] : {std::pair{&engineTimer_, kEngineTickMs}, {&secondTimer_, kSecondMs}}) {
        // Protocol time is counted in ticks: a coarse timer would stretch it.
        timer->setTimerType(Qt::PreciseTimer);
        timer->setInterval(ms);
    }
    connect(&engineTimer_, &QTimer::timeout, this, &Driver::EngineTick);
    connect(&secondTimer_, &QTimer::timeout, this, &Driver::SecondTick);
}

void Driver::Start() {
    engineTimer_.start();
    secondTimer_.start();
}

void Driver::Stop() {
    engineTimer_.stop();
    secondTimer_.stop();
}

void Driver::EngineTick() {
    core_.Tick();
    emit Ticked();
}

void Driver::SecondTick() {
    core_.CheckTimeOuts();
    emit Second();
    core_.WatchLine();
}

}  // namespace zelvano
