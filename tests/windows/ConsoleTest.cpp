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
#include "buffer/CallBuffer.h"
#include "windows/CallWindow.h"
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
    // Opens a window by its menu entry and waits until it has the focus.
    QWidget* Open(const char* menu, const char* name) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);  // closed ones
        window->findChild<QAction*>(menu)->trigger();
        QWidget* opened = window->findChild<QWidget*>(name);
        const auto focused = [opened] {
            return QApplication::focusWidget() && QApplication::focusWidget()->window() == opened;
        };
        if (!QTest::qWaitFor(focused)) {
            qWarning("%s did not get the focus", name);
        }
        return opened;
    }
    int Occupied() {
        int n = 0;
        for (const CallBufferEntry& e : app().CallBuffer) {
            n += e.IsFree() ? 0 : 1;
        }
        return n;
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

// Types over a list's text field and leaves it by Tab.
void TypeOver(QWidget* window, const char* list, const char* text) {
    auto* combo = window->findChild<QComboBox*>(list);
    combo->setFocus();
    combo->lineEdit()->selectAll();
    QTest::keyClicks(combo->lineEdit(), text);
    QTest::keyClick(combo->lineEdit(), Qt::Key_Tab);
}

}  // namespace

class ConsoleTest : public QObject {
    Q_OBJECT

  private slots:
    void rtsLabelTogglesOncePerClickOnRelease();
    void returnAndEscapeInTheWindows();
    void typedTextNamingAnEntrySelectsIt();
    void clippedCellsShowTheirStartAndATip();
    void portReasonIsLogged();
    void saveDuringALineCheckIsNoAlarm();
    void lockedListStaysGreyWithTheFocus();
    void minimisedWindowComesBackByItsMenu();
    void runningRepeatIsShownAndStoppedOnTheMainWindow();
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

void ConsoleTest::returnAndEscapeInTheWindows() {
    Harness h;
    QCOMPARE(QApplication::focusWidget(), h.Find<QWidget>(h.window.get(), "ClientArea"));

    // Return in Address is Call.
    QPointer<QWidget> call = h.Open("CallPager", "frmCall");
    auto* adres = h.Find<QLineEdit>(call, "TextAdres");
    QCOMPARE(QApplication::focusWidget(), adres);
    adres->selectAll();
    QTest::keyClicks(adres, "77");
    QTest::keyClick(adres, Qt::Key_Return);
    QTRY_VERIFY(call.isNull());
    QCOMPARE(h.Occupied(), 1);
    QCOMPARE(h.app().CallBuffer[0].Address, std::string("77"));

    // Escape is Cancel; so is Return on a focused Cancel (the Tab order goes
    // Address, Text, Call, Cancel). The focused button is marked apart from
    // the default one.
    call = h.Open("CallPager", "frmCall");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QTRY_VERIFY(call.isNull());
    call = h.Open("CallPager", "frmCall");
    auto* cmdCall = h.Find<QPushButton>(call, "CmdCall");
    const QImage defaultOnly = cmdCall->grab().toImage();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), cmdCall);
    QVERIFY(cmdCall->grab().toImage() != defaultOnly);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), h.Find<QWidget>(call, "CmdCancel"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QTRY_VERIFY(call.isNull());
    QCOMPARE(h.Occupied(), 1);

    // About opens on Close; Escape closes it, and the settings window too.
    QPointer<QWidget> about = h.Open("Info", "frmAbout");
    QCOMPARE(QApplication::focusWidget(), h.Find<QWidget>(about, "CmdSluit"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QTRY_VERIFY(about.isNull());
    QPointer<QWidget> settings = h.Open("Instellingen", "frmInstellingen");
    QTest::keyClick(settings, Qt::Key_Escape);
    QTRY_VERIFY(settings.isNull());
}

void ConsoleTest::typedTextNamingAnEntrySelectsIt() {
    Harness h;
    QWidget* call = h.Open("CallPager", "frmCall");
    TypeOver(call, "ComboPrio", " 2 ");  // a code, blanks around it
    QCOMPARE(call->findChild<QComboBox*>("ComboPrio")->currentText(), QString("2 = High"));
    TypeOver(call, "ComboBleep", "c");                   // a whole entry, other case
    TypeOver(call, "ComboCallType", "speech call");      // names nothing: fallback "1"
    TypeOver(call, "ComboNrOfTx", "2 = 2 TRANSMISSIONS");  // a whole entry, other case
    QTest::keyClick(call->findChild<QLineEdit*>("TextAdres"), Qt::Key_Return);
    const CallBufferEntry& entry = h.app().CallBuffer[0];
    QCOMPARE(entry.Priority, std::string("2"));
    QCOMPARE(entry.Bleep, std::string("C"));
    QCOMPARE(entry.CallType, std::string("1"));
    QCOMPARE(entry.NrOfTx, std::string("2"));

    // The settings window: the same rule; a number that is no entry (500 ms)
    // still leaves the interval without a selection.
    QWidget* settings = h.Open("Instellingen", "frmInstellingen");
    QTest::mouseClick(settings->findChild<QPushButton*>("CmdWijzigen"), Qt::LeftButton);
    TypeOver(settings, "ComboEmulatie", "medicall");
    TypeOver(settings, "ComboBaud", "19200");
    TypeOver(settings, "ComboDeviceCheckInterval", "500");
    QTest::mouseClick(settings->findChild<QPushButton*>("CmdSave"), Qt::LeftButton);
    QCOMPARE(h.app().settings.Emulatie, std::int16_t{2});
    QCOMPARE(h.app().settings.BaudRate, std::int16_t{5});
    QCOMPARE(h.app().settings.CheckInterval, std::int16_t{-1});
}

void ConsoleTest::clippedCellsShowTheirStartAndATip() {
    Harness h;
    const std::string longText(60, 'w');
    AddCall(h.app(), "12345678901", "1", longText, "3", "1", "3");
    AddCall(h.app(), "42", "1", "short", "3", "1", "3");
    auto* adres = h.Find<QLabel>(h.window.get(), "LabAdres_0");
    QCOMPARE(adres->toolTip(), QString("12345678901"));
    QCOMPARE(adres->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
    QCOMPARE(h.Find<QLabel>(h.window.get(), "LabInfo_0")->toolTip(),
             QString::fromStdString(longText));
    // Texts that fit: centred address, no tips.
    auto* shortAdres = h.Find<QLabel>(h.window.get(), "LabAdres_1");
    QCOMPARE(shortAdres->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    QCOMPARE(shortAdres->toolTip(), QString());
    QCOMPARE(h.Find<QLabel>(h.window.get(), "LabInfo_1")->toolTip(), QString());
    // The rows move up when the long call goes: no tip stays behind.
    DeleteCall(h.app(), 0);
    ShowCallBuffer(h.app());
    QCOMPARE(adres->toolTip(), QString());
    QCOMPARE(adres->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
}

void ConsoleTest::portReasonIsLogged() {
    Harness h(1, /*failOpen=*/true);
    const std::vector<std::string> lines = h.LogTexts();
    const auto error = std::find(lines.begin(), lines.end(), "Error opening ComPort:  1");
    QVERIFY(error != lines.end() && error + 1 != lines.end());
    QCOMPARE(error[1], "Reason: " + h.line.lastError);
    // The screen shows it too.
    const QString box = QString("Text2_%1").arg(error + 1 - lines.begin());
    QCOMPARE(h.window->findChild<QLineEdit*>(box)->text().mid(9),
             QString::fromStdString(error[1]));
}

void ConsoleTest::saveDuringALineCheckIsNoAlarm() {
    Harness h;
    auto* link = h.Find<QLabel>(h.window.get(), "LabLink");
    // One engine and LED tick; a slave that acknowledges every poll it gets.
    const auto tick = [&](bool slaveAnswers) {
        h.window->TmrAfhandel_Timer();
        const std::vector<std::uint8_t> sent = h.line.TakeWritten();
        if (slaveAnswers && std::find(sent.begin(), sent.end(), 0x05) != sent.end()) {
            h.line.Feed({0x06});
        }
        h.window->LedTimer_Timer();
    };
    for (int i = 0; i < 50 && h.app().espa.LineOk != 1; ++i) {
        tick(true);
    }
    QCOMPARE(link->text(), QString("ESPA Slave OK"));
    // A poll goes out; before its answer, Save reopens the port and the
    // answer is lost with it.
    for (int i = 0; i < 50 && h.app().espa.EspaState != 15; ++i) {
        tick(false);
    }
    QWidget* settings = h.Open("Instellingen", "frmInstellingen");
    QTest::mouseClick(settings->findChild<QPushButton*>("CmdWijzigen"), Qt::LeftButton);
    QTest::mouseClick(settings->findChild<QPushButton*>("CmdSave"), Qt::LeftButton);
    for (int i = 0; i < 80; ++i) {
        tick(true);
        QCOMPARE(link->text(), QString("ESPA Slave OK"));
    }
}

void ConsoleTest::lockedListStaysGreyWithTheFocus() {
    Harness h;
    QWidget* settings = h.Open("Instellingen", "frmInstellingen");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);  // Tab selects the text
    auto* list = qobject_cast<QComboBox*>(QApplication::focusWidget());
    QVERIFY(list && list->window() == settings);
    QLineEdit* field = list->lineEdit();
    QVERIFY(field->hasSelectedText());
    const QImage image = field->grab().toImage();
    const QColor highlight = QApplication::palette().color(QPalette::Highlight);
    int highlighted = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            highlighted += image.pixelColor(x, y) == highlight ? 1 : 0;
        }
    }
    QCOMPARE(highlighted, 0);
}

void ConsoleTest::minimisedWindowComesBackByItsMenu() {
    Harness h;
    QWidget* call = h.Open("CallPager", "frmCall");
    // Minimised, the focus passes to the main window: no reclaim, no beep.
    call->showMinimized();
    h.window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(h.window.get()));
    QTest::qWait(50);
    QCOMPARE(QApplication::activeWindow(), h.window.get());
    QCOMPARE(h.beeps, 0);

    // A click on "Call" in the menu bar brings it back, in front, with the focus.
    QMenuBar* bar = h.window->menuBar();
    QAction* entry = h.window->findChild<QAction*>("CallPager");
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(entry).center());
    QTRY_VERIFY(!call->isMinimized());
    QTRY_COMPARE(QApplication::activeWindow(), call);
    QCOMPARE(QApplication::focusWidget()->window(), call);
    QCOMPARE(h.beeps, 0);
}

void ConsoleTest::runningRepeatIsShownAndStoppedOnTheMainWindow() {
    Harness h;
    auto* shown = h.Find<QLabel>(h.window.get(), "LabAutoRepeat");
    auto* stop = h.Find<QPushButton>(h.window.get(), "CmdStopAutoRepeat");
    QVERIFY(shown && stop && !shown->isVisible() && !stop->isVisible());
    QWidget* call = h.Open("CallPager", "frmCall");
    TypeOver(call, "ComboAutoRepeatTime", "AutoRepeat every 20secs");
    QTest::keyClick(call->findChild<QLineEdit*>("TextAdres"), Qt::Key_Return);
    QTRY_VERIFY(shown->isVisible() && stop->isVisible());
    QCOMPARE(shown->toolTip(), QString("AutoRepeat every 20secs: [1234] Enter AlfaText"));

    QTest::mouseClick(stop, Qt::LeftButton);
    QVERIFY(!shown->isVisible() && !stop->isVisible());
    for (int i = 0; i < 45; ++i) {
        h.window->TmrBuffer_Timer();
    }
    QCOMPARE(h.Occupied(), 1);  // the Call itself, no repetition

    // Stopped from the call window, the main window shows it at once.
    call = h.Open("CallPager", "frmCall");
    QTest::keyClick(call->findChild<QLineEdit*>("TextAdres"), Qt::Key_Return);  // still 20 s
    QTRY_VERIFY(shown->isVisible());
    call = h.Open("CallPager", "frmCall");
    QTest::mouseClick(call->findChild<QPushButton*>("CmdStopAutoCall"), Qt::LeftButton);
    QVERIFY(!shown->isVisible());
}

QTEST_MAIN(ConsoleTest)
#include "ConsoleTest.moc"
