// The operator's console through real input: mouse and keys on the real
// windows over the core, on the offscreen platform, with a fake serial line.
#include <QtTest>
#include <QtWidgets>
#include <algorithm>
#include <memory>

#include "app/MainWindow.h"
#include "buffer/CallBuffer.h"
#include "settings/SettingsFile.h"
#include "support/TestApp.h"

using namespace zelvano;

namespace {

template <class T = QWidget>
T* Get(const QObject* parent, const char* name) {
    return parent->findChild<T*>(name);
}

// A main window over fakes, loaded and shown, its timers stopped so the test
// drives the ticks.
struct Harness {
    explicit Harness(bool failOpen = false) {
        Settings s;
        s.Emulatie = 1;  // not Philips: the transmissions list is on
        s.Logfile = 1;
        test::WriteFileBytes(SettingsPath(dir.path()), FormatSettings(s));
        line.failOpen = failOpen;
        line.lastError = "/dev/ttyS0: permission denied; the user must be in the dialout group";
        window = std::make_unique<MainWindow>(clock, line, dir.path());
        window->SetMessageBoxHandler([](auto&, auto&) { return MessageAnswer::Ok; });
        window->SetBeepHandler([this] { ++beeps; });
        window->SetQuitHandler([] {});
        window->Form_Load();
        for (const char* name : {"TmrAfhandel", "TmrBuffer", "LedTimer"}) {
            Get<QTimer>(window.get(), name)->stop();
        }
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
    }
    ~Harness() {
        window.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    App& app() { return window->app(); }
    // Opens a window by its menu entry; returns it once it has the focus.
    QWidget* Open(const char* menu, const char* name) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);  // closed ones
        Get<QAction>(window.get(), menu)->trigger();
        QWidget* opened = Get(window.get(), name);
        const auto focused = [opened] {
            return QApplication::focusWidget() && QApplication::focusWidget()->window() == opened;
        };
        return QTest::qWaitFor(focused) ? opened : nullptr;
    }
    long Occupied() {
        return std::count_if(app().CallBuffer.begin(), app().CallBuffer.end(),
                             [](const CallBufferEntry& e) { return !e.IsFree(); });
    }
    std::vector<std::string> Logged() {  // without the time of day
        std::vector<std::string> out;
        for (int i = 0; i < app().screenLog.LogLineCount; ++i)
            out.push_back(app().screenLog.LogLines[static_cast<std::size_t>(i)].substr(9));
        return out;
    }

    test::FakeClock clock;
    test::FakeSerialLine line;
    test::TempDir dir;
    std::unique_ptr<MainWindow> window;
    int beeps = 0;
};

void Key(Qt::Key key) {  // to the widget with the focus
    QTest::keyClick(QApplication::focusWidget(), key);
}

// Types over a list's text field and leaves it by Tab.
void TypeOver(QWidget* window, const char* list, const char* text) {
    auto* combo = Get<QComboBox>(window, list);
    combo->setFocus();
    combo->lineEdit()->selectAll();
    QTest::keyClicks(combo->lineEdit(), text);
    Key(Qt::Key_Tab);
}

}  // namespace

class ConsoleTest : public QObject {
    Q_OBJECT

  private slots:
    void rtsLabelTogglesOncePerClickOnRelease();
    void returnAndEscapeInTheWindows();
    void typedTextNamingAnEntrySelectsItAndLockedListsStayGrey();
    void rowsAndLogOfTheMainWindow();
    void saveDuringALineCheckIsNoAlarm();
    void minimisedWindowComesBackByItsMenu();
    void runningRepeatIsShownAndStoppedOnTheMainWindow();
    void ledTimerRunsOnlyWhileALightIsOn();
};

void ConsoleTest::rtsLabelTogglesOncePerClickOnRelease() {
    Harness h;
    auto* rts = Get(h.window.get(), "LabLinkStatus");
    const std::size_t lines = h.Logged().size();
    QTest::mousePress(rts, Qt::LeftButton);
    QVERIFY(!h.line.rts);  // nothing on the press
    QTest::mouseRelease(rts, Qt::LeftButton);
    QVERIFY(h.line.rts);
    // A double-click as the window system delivers it (press, release, press
    // that Qt turns into a double-click, release): one more toggle, not two.
    QWindow* window = h.window->windowHandle();
    QTest::mouseDClick(window, Qt::LeftButton, {},
                       window->mapFromGlobal(rts->mapToGlobal(rts->rect().center())));
    QVERIFY(!h.line.rts);
    QCOMPARE(h.Logged().size(), lines + 2);
}

void ConsoleTest::returnAndEscapeInTheWindows() {
    Harness h;
    QCOMPARE(QApplication::focusWidget(), Get(h.window.get(), "ClientArea"));  // not the log
    // Return in Address is Call.
    QPointer<QWidget> call = h.Open("CallPager", "frmCall");
    QCOMPARE(QApplication::focusWidget(), Get(call, "TextAdres"));
    Get<QLineEdit>(call, "TextAdres")->setText("77");
    Key(Qt::Key_Return);
    QTRY_VERIFY(call.isNull());
    QCOMPARE(h.app().CallBuffer[0].Address, std::string("77"));
    // Escape is Cancel; so is Return on a focused Cancel (Tab order: Address,
    // Text, Call, Cancel). A focused button looks apart from the default one.
    call = h.Open("CallPager", "frmCall");
    Key(Qt::Key_Escape);
    QTRY_VERIFY(call.isNull());
    call = h.Open("CallPager", "frmCall");
    auto* cmdCall = Get<QPushButton>(call, "CmdCall");
    const QImage defaultOnly = cmdCall->grab().toImage();
    Key(Qt::Key_Tab);
    Key(Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), cmdCall);
    QVERIFY(cmdCall->grab().toImage() != defaultOnly);
    Key(Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), Get(call, "CmdCancel"));
    Key(Qt::Key_Return);
    QTRY_VERIFY(call.isNull());
    QCOMPARE(h.Occupied(), 1);
    // About opens on Close; Escape closes it, and the settings window too.
    QPointer<QWidget> about = h.Open("Info", "frmAbout");
    QCOMPARE(QApplication::focusWidget(), Get(about, "CmdSluit"));
    Key(Qt::Key_Escape);
    QTRY_VERIFY(about.isNull());
    QPointer<QWidget> settings = h.Open("Instellingen", "frmInstellingen");
    Key(Qt::Key_Escape);
    QTRY_VERIFY(settings.isNull());
}

void ConsoleTest::typedTextNamingAnEntrySelectsItAndLockedListsStayGrey() {
    Harness h;
    QWidget* call = h.Open("CallPager", "frmCall");
    TypeOver(call, "ComboPrio", " 2 ");  // a code, blanks around it
    QCOMPARE(Get<QComboBox>(call, "ComboPrio")->currentText(), QString("2 = High"));
    TypeOver(call, "ComboBleep", "c");                     // a whole entry, other case
    TypeOver(call, "ComboCallType", "speech call");        // names nothing: fallback "1"
    TypeOver(call, "ComboNrOfTx", "2 = 2 TRANSMISSIONS");  // whole entry, other case
    Key(Qt::Key_Return);
    const CallBufferEntry& entry = h.app().CallBuffer[0];
    QCOMPARE(entry.Priority + entry.Bleep + entry.CallType + entry.NrOfTx, std::string("2C12"));
    // The settings window: the same rule; a number that names no entry
    // (500 ms) leaves the interval without a selection.
    QWidget* settings = h.Open("Instellingen", "frmInstellingen");
    QTest::mouseClick(Get(settings, "CmdWijzigen"), Qt::LeftButton);
    TypeOver(settings, "ComboEmulatie", "medicall");
    TypeOver(settings, "ComboBaud", "19200");
    TypeOver(settings, "ComboDeviceCheckInterval", "500");
    QTest::mouseClick(Get(settings, "CmdSave"), Qt::LeftButton);
    const Settings& saved = h.app().settings;
    QCOMPARE(QList<int>({saved.Emulatie, saved.BaudRate, saved.CheckInterval}),
             QList<int>({2, 5, -1}));
    // Locked again: Tab into a list selects its text, which stays grey, not
    // white on the highlight colour.
    Get(settings, "ComboCom")->setFocus();
    Key(Qt::Key_Tab);
    QLineEdit* field = qobject_cast<QComboBox*>(QApplication::focusWidget())->lineEdit();
    QVERIFY(field->isReadOnly() && field->hasSelectedText());
    const QImage image = field->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QRgb highlight = QApplication::palette().color(QPalette::Highlight).rgb();
    const auto* pixels = reinterpret_cast<const QRgb*>(image.constBits());
    QCOMPARE(std::count(pixels, pixels + image.width() * image.height(), highlight), 0);
}

void ConsoleTest::rowsAndLogOfTheMainWindow() {
    Harness h(/*failOpen=*/true);
    const std::vector<std::string> lines = h.Logged();
    const auto error = std::find(lines.begin(), lines.end(), "Error opening ComPort:  1");
    QVERIFY(error != lines.end() && error + 1 != lines.end());
    QCOMPARE(error[1], "Reason: " + h.line.lastError);
    // A clipped address shows its start; clipped cells name their whole value.
    const std::string longText(60, 'w');  // wider than the text cell
    AddCall(h.app(), "12345678901", "1", longText, "3", "1", "3");
    AddCall(h.app(), "42", "1", "short", "3", "1", "3");
    auto* adres = Get<QLabel>(h.window.get(), "LabAdres_0");
    QCOMPARE(adres->toolTip(), QString("12345678901"));
    QCOMPARE(adres->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
    QCOMPARE(Get(h.window.get(), "LabInfo_0")->toolTip(), QString::fromStdString(longText));
    QCOMPARE(Get<QLabel>(h.window.get(), "LabAdres_1")->alignment() & Qt::AlignHCenter,
             Qt::AlignHCenter);  // one that fits stays centred
}

void ConsoleTest::saveDuringALineCheckIsNoAlarm() {
    Harness h;
    auto* link = Get<QLabel>(h.window.get(), "LabLink");
    // One engine and LED tick; the slave acknowledges every poll it gets.
    const auto tick = [&](bool slaveAnswers) {
        h.window->TmrAfhandel_Timer();
        const std::vector<std::uint8_t> sent = h.line.TakeWritten();
        if (slaveAnswers && std::find(sent.begin(), sent.end(), 0x05) != sent.end())
            h.line.Feed({0x06});
        h.window->LedTimer_Timer();
    };
    for (int i = 0; i < 50 && h.app().espa.LineOk != 1; ++i)
        tick(true);
    // A poll goes out; Save reopens the port before its answer, which is lost.
    for (int i = 0; i < 50 && h.app().espa.EspaState != 15; ++i)
        tick(false);
    QCOMPARE(link->text(), QString("ESPA Slave OK"));
    QWidget* settings = h.Open("Instellingen", "frmInstellingen");
    QTest::mouseClick(Get(settings, "CmdWijzigen"), Qt::LeftButton);
    QTest::mouseClick(Get(settings, "CmdSave"), Qt::LeftButton);
    for (int i = 0; i < 80; ++i) {
        tick(true);
        QCOMPARE(link->text(), QString("ESPA Slave OK"));
    }
}

void ConsoleTest::minimisedWindowComesBackByItsMenu() {
    Harness h;
    QWidget* call = h.Open("CallPager", "frmCall");
    // Minimised, the focus passes to the main window: no reclaim, no beep.
    call->showMinimized();
    h.window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(h.window.get()));
    // A click on "Call" in the menu bar brings it back, in front, with the focus.
    QMenuBar* bar = h.window->menuBar();
    QTest::mouseClick(bar, Qt::LeftButton, {},
                      bar->actionGeometry(Get<QAction>(h.window.get(), "CallPager")).center());
    QTRY_VERIFY(!call->isMinimized());
    QTRY_COMPARE(QApplication::activeWindow(), call);
    QCOMPARE(QApplication::focusWidget()->window(), call);
    QCOMPARE(h.beeps, 0);
}

void ConsoleTest::runningRepeatIsShownAndStoppedOnTheMainWindow() {
    Harness h;
    auto* shown = Get(h.window.get(), "LabAutoRepeat");
    auto* stop = Get(h.window.get(), "CmdStopAutoRepeat");
    QVERIFY(shown && stop && !shown->isVisible() && !stop->isVisible());
    QWidget* call = h.Open("CallPager", "frmCall");
    TypeOver(call, "ComboAutoRepeatTime", "AutoRepeat every 20secs");
    Key(Qt::Key_Return);
    QTRY_VERIFY(shown->isVisible() && stop->isVisible());
    QCOMPARE(shown->toolTip(), QString("AutoRepeat every 20secs: [1234] Enter AlfaText"));
    QTest::mouseClick(stop, Qt::LeftButton);
    for (int i = 0; i < 45; ++i)
        h.window->TmrBuffer_Timer();
    QVERIFY(!shown->isVisible() && !stop->isVisible());
    QCOMPARE(h.Occupied(), 1);  // the Call itself, no repetition
    // Stopped in the call window, the main window follows at once.
    h.Open("CallPager", "frmCall");
    Key(Qt::Key_Return);  // still every 20 s
    QTRY_VERIFY(shown->isVisible());
    QTest::mouseClick(Get(h.Open("CallPager", "frmCall"), "CmdStopAutoCall"), Qt::LeftButton);
    QVERIFY(!shown->isVisible());
}

void ConsoleTest::ledTimerRunsOnlyWhileALightIsOn() {
    Harness h;
    auto* led = Get<QTimer>(h.window.get(), "LedTimer");
    const auto colour = [&](const char* n) { return Get(h.window.get(), n)->palette().window(); };
    // An idle engine tick paints CTS; the LED timer stays off.
    h.line.cts = true;
    h.app().espa.EspaState = 0;
    h.window->TmrAfhandel_Timer();
    QCOMPARE(colour("ShpCTS").color(), QColor(255, 255, 128));
    QVERIFY(!led->isActive());
    // A tick that sends lights TxD at once; the LED timer runs until it is dark.
    h.app().espa.EspaState = 10;
    h.window->TmrAfhandel_Timer();
    QCOMPARE(colour("ShpTx").color(), QColor(255, 0, 0));
    QVERIFY(led->isActive());
    QTRY_COMPARE(colour("ShpTx").color(), QColor(128, 0, 0));
    QTRY_VERIFY(!led->isActive());
}

QTEST_MAIN(ConsoleTest)
#include "ConsoleTest.moc"
