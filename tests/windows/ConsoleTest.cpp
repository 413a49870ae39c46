// The operator's console through real input: mouse and keys on the real
// windows over the core, on the offscreen platform, with a fake serial line.
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <memory>

#include "app/MainWindow.h"
#include "settings/SettingsFile.h"
#include "support/TestApp.h"

using namespace zelvano;

namespace {

// A main window over fakes, loaded, shown, with its timers stopped so the
// test drives every tick itself.
struct Harness {
    explicit Harness(std::int16_t logfile = 1, bool failOpen = false) {
        Settings s;
        s.Emulatie = 1;
        s.BaudRate = 4;
        s.Bits = 1;
        s.Logfile = logfile;
        test::WriteFileBytes(SettingsPath(dir.path()), FormatSettings(s));
        line.failOpen = failOpen;
        line.lastError = "/dev/ttyS0: permission denied; the user must be in the dialout group";
        window = std::make_unique<MainWindow>(clock, line, dir.path());
        window->SetMessageBoxHandler([](const std::string&, const std::string&) {
            return MessageAnswer::Ok;
        });
        window->SetBeepHandler([this] { ++beeps; });
        window->SetQuitHandler([] {});
        window->Form_Load();
        for (const char* name : {"TmrAfhandel", "TmrBuffer", "LedTimer"}) {
            window->findChild<QTimer*>(name)->stop();
        }
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
    }
    ~Harness() {
        window.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    App& app() { return window->app(); }
    template <class T>
    T* Find(const QWidget* parent, const char* name) const {
        T* found = parent->findChild<T*>(name);
        if (found == nullptr) {
            qWarning("no control %s", name);
        }
        return found;
    }
    std::vector<std::string> LogTexts() {
        std::vector<std::string> out;
        for (int i = 0; i < app().screenLog.LogLineCount; ++i) {
            out.push_back(app().screenLog.LogLines[static_cast<std::size_t>(i)].substr(9));
        }
        return out;
    }

    test::FakeClock clock;
    test::FakeSerialLine line;
    test::TempDir dir;
    std::unique_ptr<MainWindow> window;
    int beeps = 0;
};

// A double-click as the window system delivers it: press, release, press
// (which Qt turns into a double-click), release.
void DoubleClick(QWidget* widget) {
    QWindow* window = widget->window()->windowHandle();
    QTest::mouseDClick(window, Qt::LeftButton, {},
                       window->mapFromGlobal(widget->mapToGlobal(widget->rect().center())));
}

}  // namespace

class ConsoleTest : public QObject {
    Q_OBJECT

  private slots:
    void rtsLabelTogglesOncePerClickOnRelease();
};

void ConsoleTest::rtsLabelTogglesOncePerClickOnRelease() {
    Harness h;
    auto* rts = h.Find<QLabel>(h.window.get(), "LabLinkStatus");
    const bool before = h.line.rts;
    const std::size_t lines = h.LogTexts().size();
    QTest::mousePress(rts, Qt::LeftButton);
    QCOMPARE(h.line.rts, before);  // nothing on the press
    QTest::mouseRelease(rts, Qt::LeftButton);
    QCOMPARE(h.line.rts, !before);
    DoubleClick(rts);  // one more toggle, not two
    QCOMPARE(h.line.rts, before);
    QCOMPARE(h.LogTexts().size(), lines + 2);
}

QTEST_MAIN(ConsoleTest)
#include "ConsoleTest.moc"
