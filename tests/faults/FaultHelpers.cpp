#include "FaultHelpers.h"

#include <QCoreApplication>
#include <QSerialPort>
#include <QTimer>
#include <cstdio>

#include "FaultHarness.h"
#include "settings/SettingsFile.h"
#include "settings/SettingsWindow.h"
#include "windows/TypeableCombo.h"

namespace zelvano::faults {

Settings SavedRecordA() {
    Settings settings = BaseSettings();
    settings.CheckInterval = kIntervalA;
    return settings;
}

Settings SavedRecordB() {
    Settings settings = BaseSettings();
    settings.CheckInterval = kIntervalB;
    return settings;
}

int HoldPort(const char* device) {
    QSerialPort port;
    port.setPortName(QString::fromLocal8Bit(device));
    if (!port.open(QIODevice::ReadWrite)) {
        std::printf("CANNOT HOLD %s\n", port.errorString().toLocal8Bit().constData());
        return 1;
    }
    std::printf("HOLDING\n");
    std::fflush(stdout);
    return QCoreApplication::exec();
}

int WriteLoop(const std::filesystem::path& file) {
    const Settings records[2] = {SavedRecordA(), SavedRecordB()};
    std::printf("WRITING\n");
    std::fflush(stdout);
    for (unsigned long i = 0;; ++i)
        WriteSettingsFile(file, records[i % 2]);
}

int SaveLoop(const std::filesystem::path& dataDir) {
    Program program(dataDir);
    program.Start();
    int round = 0;
    QTimer saver;
    QObject::connect(&saver, &QTimer::timeout, [&] {
        const int interval = round++ % 2 == 0 ? kIntervalA : kIntervalB;
        program.SaveInSettingsWindow([interval](SettingsWindow& window) {
            window.findChild<TypeableCombo*>("ComboDeviceCheckInterval")
                ->SetPosition(static_cast<std::int16_t>(interval));
        });
        if (round == 1) {
            std::printf("SAVING\n");
            std::fflush(stdout);
        }
    });
    saver.start(0);
    return QCoreApplication::exec();
}

}  // namespace zelvano::faults
