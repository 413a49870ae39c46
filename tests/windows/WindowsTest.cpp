// What a click, a key or a tick (driven by hand) does to the windows, the line and
// the log, over a fake serial line; the quit on signals; --screenshots DIR.
#include <QtTest>
#include <QtWidgets>
#include <csignal>

#include "app/Indicator.h"
#include "app/MainWindow.h"
#include "buffer/CallBuffer.h"
#include "driver/SignalWatch.h"
#include "log/Log.h"
#include "settings/SettingsFile.h"
#include "support/TestApp.h"
#include "windows/QtLook.h"
#include "windows/TypeableCombo.h"

using namespace zelvano;
using namespace Qt::Literals::StringLiterals;
using Combo = TypeableCombo;

namespace {

Settings Demo(std::int16_t logfile) {
    return {0, 1, 4, 0, 1, 0, 0, 0, 0, logfile, 19, {}, 0};
}

template <class T = QWidget>
T* Get(const QObject* in, const QString& name) {
    T* control = in->findChild<T*>(name);
    if (control == nullptr)
        qFatal("no control %s", qPrintable(name));
    return control;
}

// A loaded main window over fakes with its timers stopped; the secondary
// windows are its children, so At() finds their controls too.
struct H {
    explicit H(std::optional<Settings> settings = Demo(1), bool failOpen = false,
               const std::string& portError = "") {
        if (settings)
            test::WriteFileBytes(SettingsPath(dir.path()), FormatSettings(*settings));
        line.failOpen = failOpen;
        line.lastError = portError;
        w = std::make_unique<MainWindow>(clock, line, dir.path());
        w->SetMessageBoxHandler([this](const std::string& text, const std::string& title) {
            boxes << QString::fromStdString(text + "|" + title) + (w->isVisible() ? "|shown" : "");
            return answer;
        });
        w->SetBeepHandler([this] { ++beeps; });
        w->SetQuitHandler([this] { ++quits; });
        w->Start();
        for (QTimer* timer : w->findChildren<QTimer*>())
            timer->stop();
    }
    ~H() { w.reset(), Settle(); }
    static void Settle() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }
    PagingCore& core() { return w->core(); }
    CallBuffer& Buffer() { return test::CoreAccess::Calls(core()); }
    EngineState& Engine() { return test::CoreAccess::Engine(core()); }
    Settings& CurrentSettings() { return test::CoreAccess::CurrentSettings(core()); }
    LineActivity& Activity() { return test::CoreAccess::Activity(core()); }
    void Add(const std::string& address, const std::string& text = "",
             const std::string& bleep = "1", const std::string& priority = "3") {
        core().Submit({address, text, bleep, priority, "3", "1"});
    }
    template <class T = QWidget>
    T* At(const QString& name) const {
        return Get<T>(w.get(), name);
    }
    // The named controls, '|' between: texts, "x" for a ticked box, "#" after
    // a locked (grey) list, "-" after a disabled control; for *name the colours.
    QString State(const QString& names) const {
        QStringList out;
        for (QString name : names.split(' ')) {
            const bool colours = name.startsWith('*');
            const QWidget* c = At(name.remove('*'));
            QString v = c->property(c->inherits("QComboBox") ? "currentText" : "text").toString();
            if (auto* button = qobject_cast<const QAbstractButton*>(c))
                v = button->isChecked() ? "x" : "";
            if (auto* combo = qobject_cast<const Combo*>(c))  // '!': grey but not locked or so
                v +=
                    QString(combo->IsLocked() ? "#" : "") +
                    ((combo->TextColor() == QColor(192, 192, 192)) != combo->IsLocked() ? "!" : "");
            QColor background = c->palette().color(QPalette::Window);
            if (auto* light = dynamic_cast<const Indicator*>(c))
                background = light->Colour();
            out << (colours ? c->palette().color(QPalette::WindowText).name() + " on " +
                                  background.name()
                            : v + (c->isEnabled() ? "" : "-"));
        }
        return out.join('|');
    }
    int Calls() {
        return std::count_if(core().Calls().begin(), core().Calls().end(),
                             [](const Call& e) { return !e.IsFree(); });
    }
    void Click(const QString& name) { QTest::mouseClick(At(name), Qt::LeftButton), Settle(); }
    void Pick(const QString& name, int position) { At<Combo>(name)->SetPosition(position); }
    void Type(const QString& name, const QString& text) {
        At<Combo>(name)->lineEdit()->selectAll();
        QTest::keyClicks(At<Combo>(name)->lineEdit(), text);
    }
    // Shown and active, for real keys and clicks (asked for: an X server
    // without a window manager activates nothing by itself).
    void Show() {
        w->show();
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
    }
    // Opens a window by its menu entry; returns it once it has the focus.
    QWidget* Open(const char* menu, const char* name) {
        Settle();  // closed ones
        At<QAction>(menu)->trigger();
        QWidget* opened = At(name);
        const auto focused = [opened] {
            return QApplication::focusWidget() && QApplication::focusWidget()->window() == opened;
        };
        return QTest::qWaitFor(focused) ? opened : nullptr;
    }
    std::vector<std::string> Logged() {  // without the time of day
        std::vector<std::string> out;
        for (const std::string& line : core().LogLines()) {
            if (!line.empty())
                out.push_back(line.substr(9));
        }
        return out;
    }
    // What the screen shows of a control once its updates are painted.
    QImage OnScreen(const QString& name) {
        QCoreApplication::processEvents();
        QWidget* c = At(name);
        const QRect at(c->mapTo(w.get(), QPoint()), c->size());
        return w->screen()
            ->grabWindow(w->winId(), at.x(), at.y(), at.width(), at.height())
            .toImage()
            .convertToFormat(QImage::Format_RGB32);
    }
    // ... is what painting it whole gives.
    bool OnScreenAsDrawn(const QString& name) {
        return OnScreen(name) == At(name)->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }
    void BufferTicks(int count) {
        for (int tick = 0; tick < count; ++tick)
            w->driver().SecondTick();
    }

    test::FakeClock clock;
    test::FakeSerialLine line;
    test::TempDir dir;
    std::unique_ptr<MainWindow> w;
    QStringList boxes;
    MessageAnswer answer = MessageAnswer::Ok;
    int beeps = 0, quits = 0;
};

const QString kLog =
    "Text2_0 Text2_1 Text2_2 Text2_3 Text2_4 Text2_5 Text2_6 Text2_7 Text2_8 Text2_9";
const QString kCallForm =
    "TextAdres TextAlfa ComboBleep ComboCallType ComboPrio ComboNrOfTx ComboAutoRepeatTime "
    "CmdStopAutoCall";
const QString kSettings =
    "ComboEmulatie ComboCom ComboBaud ComboParity ComboLogfile ComboDeviceCheckInterval "
    "ComboEspaTrans_5 ChkVariableEspaString CmdSave CmdCancel CmdWijzigen CmdClose";
const QString kZeroSettings =
    "Philips#|Com1#|300#|N#|No Log enabled#|Check 100ms Interval#|Not Used#|-|-|-||";
// The port error box: the port and the reason below the text.
const QString kPortError = "Error setting Comport!\r\nCheck settings\r\n\r\nCom%1: %2|Zelvano";

// The console's settings: Ascom/Nira (the transmissions list is on), log level 1.
const Settings kConsole = {0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0, {}, 0};

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

class WindowsTest : public QObject {
    Q_OBJECT
  private slots:
    // The console through real input: mouse and keys on the shown windows.
    void rtsLabelTogglesOncePerClickOnRelease();
    void returnAndEscapeInTheWindows();
    void typedTextNamingAnEntrySelectsItAndLockedListsStayGrey();
    void rowsAndLogOfTheMainWindow();
    void saveDuringALineCheckIsNoAlarm();
    void minimisedWindowComesBackByItsMenu();
    void runningRepeatIsShownAndStoppedOnTheMainWindow();
    void ledTimerRunsOnlyWhileALightIsOn();
    void menuTimersAndAbout() {
        H h;
        QString timers;
        for (const char* name : {"EngineTick", "LedTimer", "SecondTick"})
            timers += u"%1 "_s.arg(h.At<QTimer>(name)->interval());
        QCOMPARE(timers + (h.At<QTimer>("EngineTick")->timerType() == Qt::PreciseTimer ? "!" : ""),
                 u"100 250 1000 !"_s);
        for (const char* menu : {"CallPager", "Instellingen", "Info", "CallPager"})
            h.At<QAction>(menu)->trigger();
        QVERIFY(h.w->callWindow()->isVisible() && h.w->settingsWindow()->isVisible() &&
                h.w->findChildren<CallWindow*>().size() == 1);  // a second Call: the same window
        QCOMPARE(h.State("Label4 LabDataFolder TxtDataFolder"),
                 u"Software version: %1.%2|Data folder:|%3"_s.arg(ZELVANO_VERSION_MAJOR)
                     .arg(ZELVANO_VERSION_MINOR)
                     .arg(QString::fromStdString(h.dir.path().string())));
        QVERIFY(h.At<QLineEdit>("TxtDataFolder")->isReadOnly());
        h.Click("CmdSluit");
        QVERIFY(!h.w->aboutWindow());
    }

    void startUpBoxQuitAndCloseBox() {
        H h(Demo(1), /*failOpen=*/true);  // the box before the main window shows
        QCOMPARE(h.boxes, QStringList{kPortError.arg(1).arg("could not be opened")});
        QVERIFY(h.State("Text2_1").endsWith("Error opening ComPort:  1"));
        for (int i = 0; i < 20; ++i)
            h.w->driver().EngineTick();
        h.w->LedTick();  // idle; the link and the frame tell the port failed
        QVERIFY(h.Engine().step == Step::Idle &&
                h.State("LabLink *LabLink") == "ERROR connecting ESPA Slave|#ffffff on #ff0000" &&
                h.At<QGroupBox>("FrmCommunicatie")->title().endsWith("9600,N,8,1 (not open)"));
        H q;
        q.answer = MessageAnswer::Cancel;
        q.At<QAction>("Einde")->trigger();
        QVERIFY(q.line.IsOpen() && q.quits == 0);
        q.answer = MessageAnswer::Ok;
        q.At<QTimer>("EngineTick")->start();
        q.At<QAction>("Einde")->trigger();
        QCOMPARE(q.boxes, QStringList(2, "You want to quit the program?|Zelvano"));
        QVERIFY(!q.line.IsOpen() && q.quits == 1 && !q.At<QTimer>("EngineTick")->isActive());
        H c;  // the close box asks nothing; the end of the window closes nothing twice
        c.w->show();
        c.w->close();
        c.w.reset();
        QVERIFY(c.boxes.isEmpty() && c.quits == 1 && c.line.closeCount == 2 && !c.line.IsOpen());
    }

    void ledTickAndRtsClick() {
        H h;
        h.Activity() = {true, true};
        h.line.cts = true;
        h.Engine().link = LinkState::Up;
        const QString lights = "*ShpTx *ShpRx *ShpCTS *ShpRTS LabLink *LabLink";
        h.w->LedTick();  // (black text left out)
        QCOMPARE(h.State(lights).remove("#000000 on "),
                 "#ff0000|#00ff00|#ffff80|#c0c000|ESPA Slave OK|" +
                     ToQColor(CellColor::ButtonFace()).name());
        h.Engine().link = LinkState::Down;
        for (int tick = 0; tick < 2; ++tick) {  // off after one tick, then left dark
            h.w->LedTick();
            QCOMPARE(h.State(lights).remove("#000000 on "),
                     u"#800000|#008000|#ffff80|#c0c000|ERROR connecting ESPA Slave|#ffffff on "
                     "#ff0000"_s);
        }
        h.Click("LabLinkStatus");
        h.w->LedTick();
        QVERIFY(h.State("*ShpRTS").endsWith("#ffff80") &&
                h.State(kLog).contains("STATUS: RTS made ACTIVE (+12V)."));
    }

    void bufferRowsAndDoubleClick() {
        for (const QString state : {"ABSENT", "PAGED", "QUEUE", "TERMINATED", "NO STATUS", "ERROR",
                                    "NEW", "BUSY", "SPEECHPAGED"}) {
            H h;
            for (const char* address : {"100", "200", "300"})
                h.Add(address);
            h.Buffer().SetState(1, test::StateNamed(state.toStdString()));
            h.Buffer().SetState(2, CallState::Error);
            const QString cell = "LabReturnedStatus_1 *LabReturnedStatus_1";
            if (state == "PAGED") {  // a cell going plain is painted whole again
                QCOMPARE(h.State(cell) + h.At(cell.left(19))->toolTip(),
                         u"PAGED|#ffffff on #0000c0DoubleClick here to delete this entry."_s);
                h.Buffer().SetState(1, CallState::New);
                QCOMPARE(h.State(cell), "|" + ToQColor(CellColor::WindowText()).name() + " on " +
                                            ToQColor(CellColor::ButtonFace()).name());
                h.Buffer().SetState(1, CallState::Paged);
            }
            QTest::mouseDClick(h.At("LabReturnedStatus_1"), Qt::LeftButton);
            QTest::mouseDClick(h.At("LabAdres_0"), Qt::LeftButton);  // only state cells react
            // One beep, one removal; the call that moved up is not examined again. Its
            // cell is painted whole again: plain, without a tip.
            const bool removed = !QStringList{"NEW", "BUSY", "SPEECHPAGED"}.contains(state);
            const QString caption = removed ? "ERROR" : state == "NEW" ? "" : state;
            QCOMPARE(u"%1 %2 "_s.arg(h.beeps).arg(h.Calls()) + h.State("LabAdres_1 " + cell) +
                         h.At(cell.left(19))->toolTip(),
                     (removed ? "1 2 300|" : "0 3 200|") + caption + "|" +
                         ToQColor(CellColor::WindowText()).name() + " on " +
                         ToQColor(CellColor::ButtonFace()).name());
        }
    }

    void callWindow() {
        H h;
        h.w->OpenCallWindow();
        QCOMPARE(h.State(kCallForm),
                 u"1234|Enter AlfaText|1 = bleeppattern 1|3 = Standard "
                 "(code) Call|3 = Normal|1 = 1 transmission|No AutoRepeat "
                 "call|-"_s);
        h.Click("CmdCall");
        QVERIFY(!h.w->callWindow() && h.State("LabAdres_0") == "1234");  // unloaded, queued
        QVERIFY(
            h.State(kLog).contains("STATUS: Call to Buffer for Pager: [1234] Alfa: [Enter "
                                   "AlfaText] Bleep: [1] NrOfTx: [1] Priority: [3] Calltype: [3]"));
        h.w->OpenCallWindow();
        h.At<QLineEdit>("TextAdres")->setText("555");
        h.Pick("ComboBleep", 12);
        h.Pick("ComboPrio", 1);
        h.Type("ComboCallType", "x");
        h.At<Combo>("ComboCallType")->setCurrentIndex(2);  // picked again: a position
        emit h.At<Combo>("ComboCallType")->activated(2);
        h.Pick("ComboAutoRepeatTime", 3);
        h.Click("CmdCall");
        QCOMPARE(h.State("LabAdres_1 LabInfo_1 LabBleep_1 LabCallType_1 LabPriority_1"),
                 u"555|Enter AlfaText|C|2|1"_s);
        h.BufferTicks(30);  // repeated after 30 s, queued after the time-outs ran
        QVERIFY(h.Calls() == 3 && h.core().Calls()[2].timeOutCount == 60);
        h.CurrentSettings().emulation = 0;  // Philips: no choice of transmissions
        h.w->OpenCallWindow();              // the call is remembered
        QCOMPARE(h.State(kCallForm),
                 u"555|Enter AlfaText|C|2 = Speech Call|1 = Emergency|1 = 1 transmission-|"
                 "AutoRepeat every 30secs|"_s);
        h.Click("CmdStopAutoCall");
        h.w->callWindow()->UpdateStopButton();
        QCOMPARE(h.State("ComboAutoRepeatTime CmdStopAutoCall"), u"No AutoRepeat call|-"_s);
        h.BufferTicks(60);  // no more repeats; the calls time out
        QVERIFY(h.w->callWindow()->isVisible() && h.Calls() == 3);  // Stop leaves it open
        QCOMPARE(h.State("LabReturnedStatus_0"), u"ERROR"_s);
        h.At<QLineEdit>("TextAdres")->setText("888");
        h.Click("CmdCancel");
        QVERIFY(!h.w->callWindow() && h.Calls() == 3 && h.w->console().last.address == "555");
        h.w->OpenCallWindow();  // Stop forgot the repeat choice
        QCOMPARE(h.State("ComboAutoRepeatTime"), u"No AutoRepeat call"_s);
    }

    void settingsWindow() {
        H h(std::nullopt);  // no espa.set: the all-zero record
        h.w->OpenSettings();
        QCOMPARE(h.State(kSettings), kZeroSettings);
        h.At("ComboBaud")->setFocus();
        QTest::keyClick(h.At("ComboBaud"), Qt::Key_Down);  // a locked list refuses the keyboard
        h.Type("ComboBaud", "9");
        h.Click("CmdWijzigen");
        QCOMPARE(h.State(kSettings),
                 QString(kZeroSettings).remove('#').replace("-|-|-||", "|||-|-"));
        h.Pick("ComboBaud", 7);
        h.At<QCheckBox>("ChkVariableEspaString")->setChecked(true);
        h.Click("CmdCancel");  // back as it was, nothing written
        QCOMPARE(h.State(kSettings), kZeroSettings);
        QVERIFY(!std::filesystem::exists(SettingsPath(h.dir.path())) && h.line.openCount == 1);

        QCOMPARE(h.w->WindowHeightTwips(), 6705);
        h.Engine().step = Step::Idle;
        h.Click("CmdWijzigen");
        h.Pick("ComboLogfile", 1);
        h.Pick("ComboBaud", 5);
        h.Pick("ComboEspaTrans_0", 1);
        h.Click("CmdSave");
        Settings saved{0, 0, 5, 0, 0, 0, 0, 0, 0, 1, 0, {1, 0, 0, 0, 0, 0}, 0};
        QCOMPARE(test::ReadFileBytes(SettingsPath(h.dir.path())), FormatSettings(saved));
        QVERIFY(h.core().CurrentSettings() == saved && h.boxes.isEmpty());
        QCOMPARE(h.State("ComboLogfile CmdSave CmdClose"), u"Simple Log to screen#|-|"_s);
        // The taller window; the port opens again with the new values, the line check starts.
        QCOMPARE(h.w->WindowHeightTwips(), 9930);
        QCOMPARE(u"%1%2 "_s.arg(h.line.closeCount).arg(h.line.openCount) +
                     QString::fromStdString(h.line.lineSettings) + " " +
                     QString::number(static_cast<int>(h.Engine().step)),
                 u"22 19200,N,7,1 10"_s);
    }

    void quitOnSignals() {
        for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
            int calls = 0;
            {
                SignalWatch guard([&calls](int) { ++calls; });
                std::raise(signal);
                QVERIFY(guard.Requested() && calls == 0);  // from the event loop only
                QTRY_COMPARE(calls, 1);
                QTest::qWait(20);
            }
            struct sigaction current {};  // once; then the default action is back
            QVERIFY(calls == 1 && ::sigaction(signal, nullptr, &current) == 0 &&
                    current.sa_handler == SIG_DFL);
        }
        // An open box (as at start-up) does not hold the signal up.
        H h;
        SignalWatch guard([&h](int) { h.w->CloseOnSignal(); });
        QMessageBox box(QMessageBox::NoIcon, "t", "box", QMessageBox::Ok | QMessageBox::Cancel);
        QTimer::singleShot(50, [] { std::raise(SIGTERM); });
        QTimer::singleShot(5000, &box, &QMessageBox::accept);  // a fault ends the box late
        QElapsedTimer open;
        open.start();
        box.exec();
        QVERIFY(open.elapsed() < 3000);
    }
};

void WindowsTest::rtsLabelTogglesOncePerClickOnRelease() {
    H h(kConsole);
    h.Show();
    auto* rts = Get(h.w.get(), "LabLinkStatus");
    const std::size_t lines = h.Logged().size();
    QTest::mousePress(rts, Qt::LeftButton);
    QVERIFY(!h.line.rts);  // nothing on the press
    QTest::mouseRelease(rts, Qt::LeftButton);
    QVERIFY(h.line.rts);
    // A double-click as the window system delivers it (press, release, press
    // that Qt turns into a double-click, release): one more toggle, not two.
    QWindow* window = h.w->windowHandle();
    QTest::mouseDClick(window, Qt::LeftButton, {},
                       window->mapFromGlobal(rts->mapToGlobal(rts->rect().center())));
    QVERIFY(!h.line.rts);
    QCOMPARE(h.Logged().size(), lines + 2);
}

void WindowsTest::returnAndEscapeInTheWindows() {
    H h(kConsole);
    h.Show();
    QCOMPARE(QApplication::focusWidget(), Get(h.w.get(), "ClientArea"));  // not the log
    // Return in Address is Call.
    QPointer<QWidget> call = h.Open("CallPager", "frmCall");
    QCOMPARE(QApplication::focusWidget(), Get(call, "TextAdres"));
    Get<QLineEdit>(call, "TextAdres")->setText("77");
    Key(Qt::Key_Return);
    QTRY_VERIFY(call.isNull());
    QCOMPARE(h.core().Calls()[0].address, std::string("77"));
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
    QCOMPARE(h.Calls(), 1);
    // About opens on Close; Escape closes it, and the settings window too.
    QPointer<QWidget> about = h.Open("Info", "frmAbout");
    QCOMPARE(QApplication::focusWidget(), Get(about, "CmdSluit"));
    Key(Qt::Key_Escape);
    QTRY_VERIFY(about.isNull());
    QPointer<QWidget> settings = h.Open("Instellingen", "frmInstellingen");
    Key(Qt::Key_Escape);
    QTRY_VERIFY(settings.isNull());
}

void WindowsTest::typedTextNamingAnEntrySelectsItAndLockedListsStayGrey() {
    H h(kConsole);
    h.Show();
    QWidget* call = h.Open("CallPager", "frmCall");
    TypeOver(call, "ComboPrio", " 2 ");  // a code, blanks around it
    QCOMPARE(Get<QComboBox>(call, "ComboPrio")->currentText(), QString("2 = High"));
    TypeOver(call, "ComboBleep", "c");               // a whole entry, other case
    TypeOver(call, "ComboCallType", "speech call");  // names nothing: refused on leaving
    QCOMPARE(Get<QLabel>(call, "LabHint")->text() + u" %1"_s.arg(h.beeps),
             u"No entry \"speech call\"; \"3 = Standard (code) Call\" kept 1"_s);
    TypeOver(call, "ComboNrOfTx", "2 = 2 TRANSMISSIONS");  // whole entry, other case
    Key(Qt::Key_Return);
    const Call& entry = h.core().Calls()[0];
    QCOMPARE(entry.priority + entry.bleep + entry.callType + entry.transmissions,
             std::string("2C32"));
    // Return straight from a list whose text names nothing, or with a text
    // the line cannot carry: nothing queued, the window stays open.
    call = h.Open("CallPager", "frmCall");
    for (auto* edit :
         {Get<QComboBox>(call, "ComboPrio")->lineEdit(), Get<QLineEdit>(call, "TextAlfa")}) {
        edit->setFocus();
        edit->selectAll();
        const bool text = edit->parent() == call;
        QTest::keyClicks(edit, text ? "Pump " : "High");
        if (text)  // a character no key name stands for
            QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, u"\u03a9"_s, Qt::NoModifier);
        Key(Qt::Key_Return);
        QVERIFY(call->isVisible() && h.Calls() == 1 && edit->hasFocus());
    }
    QCOMPARE(Get<QComboBox>(call, "ComboPrio")->currentText() + u" %1 "_s.arg(h.beeps) +
                 Get<QLabel>(call, "LabHint")->text(),
             u"2 = High 3 "_s + QString::fromStdString(Unsendable("text", "Pump \u03a9")));
    Key(Qt::Key_Escape);
    // The settings window: the same rule. Change leads into the first list
    // with Save as the default button: Return there saves.
    QWidget* settings = h.Open("Instellingen", "frmInstellingen");
    QTest::mouseClick(Get(settings, "CmdWijzigen"), Qt::LeftButton);
    QVERIFY(QApplication::focusWidget() == Get(settings, "ComboEmulatie") &&
            Get<QPushButton>(settings, "CmdSave")->isDefault() &&
            !Get<QPushButton>(settings, "CmdCancel")->isDefault());
    TypeOver(settings, "ComboEmulatie", "medicall");
    TypeOver(settings, "ComboBaud", "19200");
    TypeOver(settings, "ComboDeviceCheckInterval", "500");  // names nothing: refused
    Key(Qt::Key_Return);
    const Settings& saved = h.core().CurrentSettings();
    QCOMPARE(QList<int>({saved.emulation, saved.baudRate, saved.checkInterval, h.beeps}),
             QList<int>({2, 5, 0, 4}));
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

void WindowsTest::rowsAndLogOfTheMainWindow() {
    H h(Demo(2), true, "/dev/ttyS0: permission denied; the user must be in the dialout group");
    h.Show();
    const std::vector<std::string> lines = h.Logged();
    const auto error = std::find(lines.begin(), lines.end(), "Error opening ComPort:  1");
    QVERIFY(error != lines.end() && error + 1 != lines.end());
    QCOMPARE(error[1], "Reason: " + h.line.lastError);
    // A clipped address shows its start and "…"; clipped cells name their whole value.
    const std::string longText(60, 'w');  // wider than the text cell
    h.Add("12345678901", longText);
    h.Add("42", "short");
    auto* adres = Get<QLabel>(h.w.get(), "LabAdres_0");
    QVERIFY(adres->text().endsWith(u'…') && h.State("LabInfo_0").endsWith(u'…') &&
            QString("12345678901").startsWith(adres->text().chopped(1)));
    QCOMPARE(adres->toolTip(), QString("12345678901"));
    QCOMPARE(adres->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
    QCOMPARE(Get(h.w.get(), "LabInfo_0")->toolTip(), QString::fromStdString(longText));
    QCOMPARE(Get<QLabel>(h.w.get(), "LabAdres_1")->alignment() & Qt::AlignHCenter,
             Qt::AlignHCenter);  // one that fits stays centred
    // The screen log: after each burst of lines or Save the ten boxes, fixed top
    // to bottom in Tab order, hold the day file's last ten lines whole and in
    // order, and the screen shows them as a fresh window draws the same texts.
    std::vector<QPoint> places;
    for (int i = 0; i < 10; ++i)
        places.push_back(Get(h.w.get(), u"Text2_%1"_s.arg(i))->pos());
    const QStringList texts = {"Test ESPA connection 1 ENQ sent",
                               "Test ESPA connection 22 ENQ sent",
                               "Test ESPA connection ACK received",
                               QString(120, 'W'),
                               "x",
                               "",
                               "iiiiiiii",
                               "WWWWWWWW",
                               "fi j WW Test"};
    int written = 0;
    for (const int burst : {10, 1, -1, 2, 3, -2, 7, 1, 13}) {  // -1 a Save, -2 one to Com2 failing
        if (burst < 0) {
            h.line.failOpen = burst == -2;
            QWidget* settings = h.Open("Instellingen", "frmInstellingen");
            QTest::mouseClick(Get(settings, "CmdWijzigen"), Qt::LeftButton);
            Get<Combo>(settings, "ComboCom")->SetPosition(std::int16_t(-burst - 1));
            QTest::mouseClick(Get(settings, "CmdSave"), Qt::LeftButton);
            QTest::mouseClick(Get(settings, "CmdClose"), Qt::LeftButton);
        }
        for (int i = 0; i < burst; ++i, ++written) {
            h.clock.now.second = (written * 7) % 60;
            h.core().Log(texts[written % texts.size()].toStdString());
        }
        const std::string file =
            test::ReadFileBytes(h.dir.path() / "Log" / DayFileName(h.clock.now));
        const QStringList last =
            QString::fromStdString(file).split("\r\n", Qt::SkipEmptyParts).last(10);
        H fresh(kConsole);
        for (int i = 0; i < 10; ++i) {
            auto* box = Get<QLineEdit>(h.w.get(), u"Text2_%1"_s.arg(i));
            QVERIFY(box->text() == last[i] && box->cursorPosition() == 0 &&
                    box->pos() == places[static_cast<std::size_t>(i)]);
            QVERIFY(i == 0 || box->y() > places[static_cast<std::size_t>(i - 1)].y());
            QVERIFY(i == 9 || box->nextInFocusChain()->objectName() == u"Text2_%1"_s.arg(i + 1));
            auto* freshBox = Get<QLineEdit>(fresh.w.get(), box->objectName());
            freshBox->setText(last[i]);
            freshBox->setCursorPosition(0);
        }
        QTRY_COMPARE(
            h.OnScreen("frameDiagnose"),
            fresh.At("frameDiagnose")->grab().toImage().convertToFormat(QImage::Format_RGB32));
    }
    // Both boxes name the port and why; the frame names the failed port, not open.
    const QString box = kPortError.arg(1).arg(QString::fromStdString(h.line.lastError));
    QCOMPARE(h.boxes, (QStringList{box, QString(box).replace("Com1", "Com2") + "|shown"}));
    QCOMPARE(h.At<QGroupBox>("FrmCommunicatie")->title(),
             u"Settings: Com:2 at 9600,N,8,1 (not open)"_s);
}

void WindowsTest::saveDuringALineCheckIsNoAlarm() {
    H h(kConsole);
    h.Show();
    auto* link = Get<QLabel>(h.w.get(), "LabLink");
    // One engine and LED tick; the slave acknowledges every poll it gets.
    const auto tick = [&](bool slaveAnswers) {
        h.w->driver().EngineTick();
        const std::vector<std::uint8_t> sent = h.line.TakeWritten();
        if (slaveAnswers && std::find(sent.begin(), sent.end(), 0x05) != sent.end())
            h.line.Feed({0x06});
        h.w->LedTick();
    };
    for (int i = 0; i < 50 && h.core().Link() != LinkState::Up; ++i)
        tick(true);
    // A poll goes out; Save reopens the port before its answer, which is lost.
    for (int i = 0; i < 50 && h.Engine().step != Step::LineCheckAnswer; ++i)
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

void WindowsTest::minimisedWindowComesBackByItsMenu() {
    H h(kConsole);
    h.Show();
    QWidget* call = h.Open("CallPager", "frmCall");
    // Minimised, the focus passes to the main window: no reclaim, no beep.
    call->showMinimized();
    h.w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(h.w.get()));
    // A click on "Call" in the menu bar brings it back, in front, with the focus.
    QMenuBar* bar = h.w->menuBar();
    QTest::mouseClick(bar, Qt::LeftButton, {},
                      bar->actionGeometry(Get<QAction>(h.w.get(), "CallPager")).center());
    QTRY_VERIFY(!call->isMinimized());
    QTRY_COMPARE(QApplication::activeWindow(), call);
    QCOMPARE(QApplication::focusWidget()->window(), call);
    QCOMPARE(h.beeps, 0);
}

void WindowsTest::runningRepeatIsShownAndStoppedOnTheMainWindow() {
    H h(kConsole);
    h.Show();
    auto* shown = Get(h.w.get(), "LabAutoRepeat");
    auto* stop = Get(h.w.get(), "CmdStopAutoRepeat");
    QVERIFY(shown && stop && !shown->isVisible() && !stop->isVisible());
    QWidget* call = h.Open("CallPager", "frmCall");
    TypeOver(call, "ComboAutoRepeatTime", "AutoRepeat every 20secs");
    Key(Qt::Key_Return);
    QTRY_VERIFY(shown->isVisible() && stop->isVisible());
    QCOMPARE(shown->toolTip(), QString("AutoRepeat every 20secs: [1234] Enter AlfaText"));
    QTest::mouseClick(stop, Qt::LeftButton);
    for (int i = 0; i < 45; ++i)
        h.w->driver().SecondTick();
    QVERIFY(!shown->isVisible() && !stop->isVisible());
    QCOMPARE(h.Calls(), 1);  // the Call itself, no repetition
    // Stop forgot the choice; stopped in the call window, the main window follows.
    call = h.Open("CallPager", "frmCall");
    QCOMPARE(Get<QComboBox>(call, "ComboAutoRepeatTime")->currentText(), u"No AutoRepeat call"_s);
    TypeOver(call, "ComboAutoRepeatTime", "AutoRepeat every 20secs");
    Key(Qt::Key_Return);
    QTRY_VERIFY(shown->isVisible());
    QTest::mouseClick(Get(h.Open("CallPager", "frmCall"), "CmdStopAutoCall"), Qt::LeftButton);
    QVERIFY(!shown->isVisible());
}

void WindowsTest::ledTimerRunsOnlyWhileALightIsOn() {
    H h(kConsole);
    h.Show();
    auto* led = Get<QTimer>(h.w.get(), "LedTimer");
    const auto colour = [&](const char* n) { return Get<Indicator>(h.w.get(), n)->Colour(); };
    // An idle engine tick paints CTS; the LED timer stays off.
    h.line.cts = true;
    h.Engine().step = Step::Idle;
    h.w->driver().EngineTick();
    QCOMPARE(colour("ShpCTS"), QColor(255, 255, 128));
    QVERIFY(!led->isActive());
    // A tick that sends lights TxD; the LED timer, not the engine's ticks,
    // turns it off, then stops. A line a tick logs is shown at once.
    h.CurrentSettings().logLevel = 2;
    h.Engine().step = Step::LineCheckStart;
    const QString before = h.State(kLog);
    for (int tick = 0; tick < 10 && h.State(kLog) == before; ++tick) {
        h.w->driver().EngineTick();
        QStringList lines;
        for (const std::string& line : h.core().LogLines())
            lines << QString::fromStdString(line);
        QCOMPARE(h.State(kLog), lines.join('|'));
    }
    QVERIFY(h.State(kLog) != before && colour("ShpTx") == QColor(255, 0, 0) && led->isActive());
    QTRY_COMPARE(colour("ShpTx"), QColor(128, 0, 0));
    QVERIFY(h.OnScreenAsDrawn("FrmCommunicatie"));
    QTRY_VERIFY(!led->isActive());
}

// Pictures of the four windows, a few calls in different states shown.
int Screenshots(const QString& dir) {
    H h(Demo(2));
    const QStringList rows =
        u"PAGED:Room 12 call nurse,ABSENT:Visitor at desk,QUEUE:Meeting in 5 "
        "min,NO STATUS:Lab results ready,BUSY:Porter to ward 3,ERROR:Test "
        "call,NEW:Enter AlfaText"_s.split(',');
    for (int i = 0; i < rows.size(); ++i) {
        h.Add(std::to_string(1234 + i * 111), rows[i].section(':', 1).toStdString(),
              std::string(1, "1C3A5F2"[i]), std::to_string(i % 4));
        h.Buffer().SetState(i, test::StateNamed(rows[i].section(':', 0, 0).toStdString()));
    }
    h.Engine().link = LinkState::Up;
    h.Activity().sent = true;
    h.w->LedTick();
    h.w->show();
    bool ok = QDir().mkpath(dir);
    auto save = [&](QWidget* window, const char* name) {  // taken while it is the active one
        for (int i = 0; i < 5; ++i)
            QApplication::processEvents();
        ok = window->grab().save(QDir(dir).filePath(name + u"-window.png"_s)) && ok;
        if (window != h.w.get())
            window->close();
    };
    save(h.w.get(), "main");
    h.w->OpenCallWindow();
    save(h.w->callWindow(), "call");
    h.w->OpenSettings();
    save(h.w->settingsWindow(), "settings");
    h.w->OpenAbout();
    save(h.w->aboutWindow(), "about");
    return ok ? 0 : 1;
}

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    const QByteArray mode = argc > 1 ? argv[1] : "";
    if (mode == "--screenshots")
        return Screenshots(argc > 2 ? QString::fromLocal8Bit(argv[2]) : u"docs"_s);
    WindowsTest windows;
    return QTest::qExec(&windows, argc, argv);
}

#include "WindowsTest.moc"
