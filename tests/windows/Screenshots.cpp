// Builds the four real windows over the core with a fake serial line, fills
// the main window with a few calls in different states and saves a picture
// of each window: main-window.png, call-window.png, settings-window.png,
// about-window.png in the directory given as the first argument.
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTimer>
#include <cstdio>

#include "app/MainWindow.h"
#include "buffer/CallBuffer.h"
#include "log/Log.h"
#include "settings/SettingsFile.h"
#include "support/TestApp.h"

using namespace zelvano;

namespace {

void Settle() {
    for (int i = 0; i < 5; ++i) {
        QApplication::processEvents();
    }
}

bool Save(QWidget* window, const QString& dir, const char* name) {
    Settle();
    const QString file = QDir(dir).filePath(name);
    const bool ok = window->grab().save(file);
    std::printf("%s %s (%dx%d)\n", ok ? "wrote" : "FAILED", qPrintable(file), window->width(),
                window->height());
    return ok;
}

Settings DemoSettings() {
    Settings s;
    s.Compoort = 0;
    s.Emulatie = 1;
    s.BaudRate = 4;
    s.Bits = 1;
    s.Logfile = 2;
    s.CheckInterval = 19;
    return s;
}

void FillDemoState(App& app) {
    const char* states[] = {"PAGED", "ABSENT", "QUEUE", "NO STATUS", "BUSY", "ERROR", "NEW"};
    const char* texts[] = {"Room 12 call nurse", "Visitor at desk",  "Meeting in 5 min",
                           "Lab results ready",  "Porter to ward 3", "Test call",
                           "Enter AlfaText"};
    for (int i = 0; i < 7; ++i) {
        AddCall(app, std::to_string(1234 + i * 111), std::string(1, "1C3A5F2"[i]), texts[i],
                std::to_string(i % 4), "1", "3");
        app.CallBuffer[i].Status = states[i];
    }
    ShowCallBuffer(app);
    app.espa.LineOk = 1;
    app.activity.TxdActive = true;
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    const QString outDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString("docs");
    QDir().mkpath(outDir);

    test::FakeClock clock;
    test::FakeSerialLine line;
    test::TempDir dir;
    test::WriteFileBytes(SettingsPath(dir.path()), FormatSettings(DemoSettings()));

    MainWindow window(clock, line, dir.path());
    window.SetMessageBoxHandler(
        [](const std::string&, const std::string&) { return MessageAnswer::Ok; });
    window.SetBeepHandler([] {});
    window.Form_Load();
    for (const char* name : {"TmrAfhandel", "TmrBuffer", "LedTimer"}) {
        window.findChild<QTimer*>(name)->stop();  // a still picture
    }
    FillDemoState(window.app());
    window.LedTimer_Timer();
    window.show();

    bool ok = Save(&window, outDir, "main-window.png");
    window.CallPager_Click();
    ok = Save(window.callWindow(), outDir, "call-window.png") && ok;
    window.callWindow()->close();
    window.Instellingen_Click();
    ok = Save(window.settingsWindow(), outDir, "settings-window.png") && ok;
    window.settingsWindow()->close();
    window.Info_Click();
    ok = Save(window.aboutWindow(), outDir, "about-window.png") && ok;
    return ok ? 0 : 1;
}
