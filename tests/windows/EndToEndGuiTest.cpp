// The real main window and call window, the real QSerialPort adapter over a
// pseudo-terminal, and espa-slave as a separate process: a call entered in
// the call window is delivered and its row ends "PAGED".
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QtTest>

#include "app/MainWindow.h"
#include "serial/QtSerialLine.h"
#include "settings/SettingsFile.h"
#include "support/TestApp.h"
#include "windows/CallWindow.h"

using namespace zelvano;

class EndToEndGuiTest : public QObject {
    Q_OBJECT

  private slots:
    void callFromTheCallWindowIsPaged();
};

void EndToEndGuiTest::callFromTheCallWindowIsPaged() {
    test::TempDir dir;
    const QString ready = QString::fromStdString((dir.path() / "slave.ready").string());
    QProcess slave;
    slave.setProcessChannelMode(QProcess::MergedChannels);
    slave.start(ESPA_SLAVE_PATH, {"--pty-file", ready, "--script", "4321=QUEUE,1:PAGED"});
    QVERIFY2(slave.waitForStarted(10000), qPrintable(slave.errorString()));
    QTRY_VERIFY_WITH_TIMEOUT(!test::ReadFileBytes(ready.toStdString()).empty(), 10000);
    std::string pty = test::ReadFileBytes(ready.toStdString());
    pty.erase(pty.find_last_not_of("\r\n") + 1);

    Settings settings;
    settings.Emulatie = 1;
    settings.BaudRate = 4;
    settings.Bits = 1;
    settings.Logfile = 2;
    settings.CheckInterval = 19;
    test::WriteFileBytes(SettingsPath(dir.path()), FormatSettings(settings));
    test::WriteFileBytes(dir.path() / "comports.cfg", "COM1=" + pty + "\n");

    SystemClock clock;
    QtSerialLine line(dir.path());
    MainWindow window(clock, line, dir.path());
    std::vector<std::string> boxes;
    window.SetMessageBoxHandler([&boxes](const std::string& text, const std::string&) {
        boxes.push_back(text);
        return MessageAnswer::Ok;
    });
    window.SetBeepHandler([] {});
    window.SetQuitHandler([] {});
    window.Form_Load();
    QVERIFY2(boxes.empty(), "the port did not open");
    window.show();
    QTRY_COMPARE_WITH_TIMEOUT(window.findChild<QLabel*>("LabLink")->text(),
                              QString("ESPA Slave OK"), 15000);

    window.CallPager_Click();
    CallWindow* call = window.callWindow();
    QVERIFY(call != nullptr);
    call->findChild<QLineEdit*>("TextAdres")->setText("4321");
    call->findChild<QLineEdit*>("TextAlfa")->setText("End to end");
    QTest::mouseClick(call->findChild<QPushButton*>("CmdCall"), Qt::LeftButton);

    // Watch the state cell of row 0 until the call is paged.
    QLabel* state = window.findChild<QLabel*>("LabReturnedStatus_0");
    QStringList seen;
    QTimer watch;
    const auto record = [&] {
        if (seen.isEmpty() || seen.back() != state->text()) {
            seen << state->text();
        }
    };
    connect(&watch, &QTimer::timeout, this, record);
    watch.start(20);
    QTRY_COMPARE_WITH_TIMEOUT(state->text(), QString("PAGED"), 30000);
    watch.stop();
    record();  // the last state, whether or not the watch saw it first
    QCOMPARE(window.findChild<QLabel*>("LabAdres_0")->text(), QString("4321"));
    QCOMPARE(window.findChild<QLabel*>("LabInfo_0")->text(), QString("End to end"));
    // "NEW" shows as an empty cell, then the slave's acknowledgement.
    const int queued = seen.indexOf("QUEUE");
    QVERIFY2(queued >= 0, qPrintable(seen.join(" | ")));
    QCOMPARE(seen.indexOf("PAGED"), seen.size() - 1);
    QVERIFY(!seen.contains("ERROR"));

    window.close();
    QVERIFY(!line.IsOpen());
    slave.terminate();
    QVERIFY(slave.waitForFinished(10000));
    QVERIFY2(slave.readAll().contains("4321"), "the slave never saw the call");
}

QTEST_MAIN(EndToEndGuiTest)
#include "EndToEndGuiTest.moc"
