// Termination signals reach the event loop as an ordinary call, once each,
// and the default actions come back when the guard is gone.
#include <QtTest>
#include <csignal>

#include "app/QuitOnSignal.h"

namespace zelvano {

class QuitOnSignalTest : public QObject {
    Q_OBJECT
  private slots:
    void eachSignalRunsTheActionFromTheEventLoop_data();
    void eachSignalRunsTheActionFromTheEventLoop();
    void defaultActionsComeBack();
};

void QuitOnSignalTest::eachSignalRunsTheActionFromTheEventLoop_data() {
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGHUP") << SIGHUP;
}

void QuitOnSignalTest::eachSignalRunsTheActionFromTheEventLoop() {
    QFETCH(int, signal);
    int calls = 0;
    QuitOnSignal guard([&calls] { ++calls; });
    QVERIFY(!guard.Requested());
    std::raise(signal);
    // Not from inside the handler: only once the event loop runs.
    QCOMPARE(calls, 0);
    QVERIFY(guard.Requested());
    QTRY_COMPARE(calls, 1);
    QTest::qWait(50);
    QCOMPARE(calls, 1);
}

void QuitOnSignalTest::defaultActionsComeBack() {
    {
        QuitOnSignal guard([] {});
    }
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        struct sigaction current {};
        QVERIFY(::sigaction(signal, nullptr, &current) == 0);
        QVERIFY(current.sa_handler == SIG_DFL);
    }
}

}  // namespace zelvano

QTEST_GUILESS_MAIN(zelvano::QuitOnSignalTest)
#include "QuitOnSignalTest.moc"
