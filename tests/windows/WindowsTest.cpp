// The four windows over the core, on the offscreen platform, with a fake
// serial line. Message boxes, beeps and the end of the program are answered
// and counted through the main window's handlers.
#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <memory>

#include "app/MainTicks.h"
#include "app/MainWindow.h"
#include "buffer/CallBuffer.h"
#include "settings/SettingsFile.h"
#include "settings/SettingsWindow.h"
#include "support/TestApp.h"
#include "windows/AboutWindow.h"
#include "windows/CallWindow.h"
#include "windows/FocusKeeper.h"
#include "windows/QtLook.h"
#include "windows/TypeableCombo.h"

using namespace zelvano;

namespace {

Settings DemoSettings(std::int16_t logfile) {
    Settings s;
    s.Emulatie = 1;
    s.BaudRate = 4;
    s.Bits = 1;
    s.Logfile = logfile;
    return s;
}

// A main window over fakes, loaded, with its timers stopped so the test
// drives every tick itself.
struct Harness {
    explicit Harness(std::optional<Settings> settings = DemoSettings(1), bool failOpen = false) {
        if (settings) {
            test::WriteFileBytes(SettingsPath(dir.path()), FormatSettings(*settings));
        }
        line.failOpen = failOpen;
        window = std::make_unique<MainWindow>(clock, line, dir.path());
        window->SetMessageBoxHandler([this](const std::string& text, const std::string& title) {
            boxes.push_back({text, title, window->isVisible()});
            return answer;
        });
        window->SetBeepHandler([this] { ++beeps; });
        window->SetQuitHandler([this] { ++quits; });
        window->Form_Load();
        for (const char* name : {"TmrAfhandel", "TmrBuffer", "LedTimer"}) {
            window->findChild<QTimer*>(name)->stop();
        }
    }
    ~Harness() {
        window.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    App& app() { return window->app(); }
    template <class T>
    T* Find(const char* name) const {
        T* found = window->findChild<T*>(name);
        if (found == nullptr) {
            qWarning("no control %s", name);
        }
        return found;
    }
    QAction* Menu(const char* name) const { return Find<QAction>(name); }
    int Occupied() {
        int n = 0;
        for (const CallBufferEntry& e : app().CallBuffer) {
            n += e.IsFree() ? 0 : 1;
        }
        return n;
    }

    struct Box {
        std::string text, title;
        bool mainWindowShown;
    };
    test::FakeClock clock;
    test::FakeSerialLine line;
    test::TempDir dir;
    std::unique_ptr<MainWindow> window;
    std::vector<Box> boxes;
    MessageAnswer answer = MessageAnswer::Ok;
    int beeps = 0;
    int quits = 0;
};

void Settle() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

int Px(int twips) {
    return TwipsToPixels(twips, 96);
}

}  // namespace

class WindowsTest : public QObject {
    Q_OBJECT

  private slots:
    void menuBarHasFourDirectEntries();
    void menuOpensEachWindow();
    void namedControlsExist();
    void layoutFollowsTheTwipsTables();
    void windowHeightFollowsTheLogLevel();
    void startUpBoxWhenThePortIsMissing();
    void quitAsksAndEndsOnOk();
    void closeBoxEndsWithoutAQuestion();
    void ledTickPaintsIndicatorsAndLink();
    void stateCellsByState_data();
    void stateCellsByState();
    void doubleClickRemovesByState_data();
    void doubleClickRemovesByState();
    void callWithTheDefaultsOfAFirstOpening();
    void callWindowRemembersTheLastCall();
    void typedOverListsGiveOne();
    void transmissionsListOffForPhilips();
    void autoRepeatQueuesAndStops();
    void callWithoutPeriodEndsARunningRepeat();
    void cancelSendsNothing();
    void settingsOpenLockedAndGrey();
    void settingsChangeCancelLeavesFileAlone();
    void settingsSaveWritesAndReopens();
    void settingsSaveFailureShowsTheBox();
    void settingsCloseBoxDropsChanges();
    void aboutShowsTheVersion();
    void secondaryWindowTakesTheFocusBack();
    void twoSecondaryWindowsDoNotFight();
};

void WindowsTest::menuBarHasFourDirectEntries() {
    Harness h;
    const QList<QAction*> actions = h.window->menuBar()->actions();
    QStringList captions;
    for (QAction* action : actions) {
        captions << action->text();
        QVERIFY2(action->menu() == nullptr, qPrintable(action->text()));
    }
    QCOMPARE(captions, (QStringList{"Call", "Settings", "Quit", "About"}));
    QCOMPARE(actions[0]->objectName(), QString("CallPager"));
    QCOMPARE(actions[1]->objectName(), QString("Instellingen"));
    QCOMPARE(actions[2]->objectName(), QString("Einde"));
    QCOMPARE(actions[3]->objectName(), QString("Info"));
}

void WindowsTest::menuOpensEachWindow() {
    Harness h;
    h.window->show();
    h.Menu("CallPager")->trigger();
    QVERIFY(h.window->callWindow() && h.window->callWindow()->isVisible());
    QCOMPARE(h.window->callWindow()->windowTitle(), QString("Call Window"));
    h.Menu("Instellingen")->trigger();
    QVERIFY(h.window->settingsWindow() && h.window->settingsWindow()->isVisible());
    QCOMPARE(h.window->settingsWindow()->windowTitle(), QString("Setup"));
    h.Menu("Info")->trigger();
    QVERIFY(h.window->aboutWindow() && h.window->aboutWindow()->isVisible());
    QCOMPARE(h.window->aboutWindow()->windowTitle(), QString("About"));

    // A second "Call" shows the same window instead of a new one.
    CallWindow* first = h.window->callWindow();
    h.Menu("CallPager")->trigger();
    QCOMPARE(h.window->callWindow(), first);
    QCOMPARE(h.window->findChildren<CallWindow*>().size(), 1);
}

void WindowsTest::namedControlsExist() {
    Harness h;
    const char* names[] = {"FrmCommunicatie", "ShpTx",         "Label4_1",
                           "ShpRx",           "Label4_2",      "ShpRTS",
                           "LabLinkStatus",   "ShpCTS",        "Label2",
                           "LabLink",         "frameCalls",    "LabelSoftware",
                           "frameDiagnose",   "Text2_0",       "Text2_9",
                           "LabAdres_0",      "LabInfo_9",     "LabBleep_3",
                           "LabCallType_4",   "LabPriority_5", "LabReturnedStatus_3",
                           "TmrAfhandel",     "TmrBuffer",     "LedTimer"};
    for (const char* name : names) {
        QVERIFY2(h.window->findChild<QObject*>(name) != nullptr, name);
    }
    QCOMPARE(h.Find<QTimer>("TmrAfhandel")->interval(), 100);
    QCOMPARE(h.Find<QTimer>("TmrAfhandel")->timerType(), Qt::PreciseTimer);
    QCOMPARE(h.Find<QTimer>("TmrBuffer")->interval(), 1000);
    QCOMPARE(h.Find<QTimer>("LedTimer")->interval(), 250);
    QCOMPARE(h.Find<QLabel>("LabelSoftware")->text(), QString("ESPA 4.4.4 Master unit"));
    QCOMPARE(h.Find<QLabel>("LabelSoftware")->font().pointSizeF(), 14.25);
    QCOMPARE(h.Find<QLabel>("LabelSoftware")->palette().color(QPalette::WindowText),
             QColor(0, 0, 255));
    // Opened in handshake mode 0: the tool tip the port opening sets.
    QCOMPARE(h.Find<QLabel>("LabLinkStatus")->toolTip(),
             QString("RTS status, click here to change"));
    QCOMPARE(h.Find<QLabel>("LabInfo_2")->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
    QCOMPARE(h.Find<QLabel>("LabBleep_2")->alignment() & Qt::AlignHorizontal_Mask,
             Qt::AlignHCenter);
}

void WindowsTest::layoutFollowsTheTwipsTables() {
    Harness h;
    if (h.window->logicalDpiX() != 96 || h.window->logicalDpiY() != 96) {
        QSKIP("the figures below are for 96 dpi");
    }
    QCOMPARE(h.Find<QWidget>("FrmCommunicatie")->geometry(),
             QRect(Px(120), Px(120), Px(3975), Px(735)));
    QCOMPARE(h.Find<QWidget>("ShpRx")->geometry(), QRect(Px(1200), Px(360), Px(255), Px(135)));
    QCOMPARE(h.Find<QWidget>("LabLink")->geometry(), QRect(Px(4200), Px(480), Px(2535), Px(255)));
    QCOMPARE(h.Find<QWidget>("LabReturnedStatus_3")->geometry(),
             QRect(Px(7920), Px(720 + 360 * 3), Px(1695), Px(255)));
    QCOMPARE(h.Find<QWidget>("LabInfo_9")->geometry(),
             QRect(Px(1320), Px(720 + 360 * 9), Px(4335), Px(255)));
    QCOMPARE(h.Find<QWidget>("Text2_4")->geometry(),
             QRect(Px(240), Px(360 + 240 * 4), Px(9375), Px(285)));
    QCOMPARE(h.window->centralWidget()->width(), Px(10065));

    h.Menu("Instellingen")->trigger();
    SettingsWindow* settings = h.window->settingsWindow();
    QCOMPARE(settings->size(), QSize(Px(11160), Px(7470)));
    QCOMPARE(settings->findChild<QWidget*>("ComboRtsCts")->geometry(),
             QRect(Px(7680), Px(600), Px(2535), Px(315)));
    QCOMPARE(settings->findChild<QWidget*>("ComboEspaTrans_5")->geometry(),
             QRect(Px(2880), Px(360 + 480 * 5), Px(2655), Px(315)));
    QCOMPARE(settings->findChild<QWidget*>("CmdSave")->geometry(),
             QRect(Px(7080), Px(6600), Px(1095), Px(375)));
}

void WindowsTest::windowHeightFollowsTheLogLevel() {
    {
        Harness h(DemoSettings(0));
        QCOMPARE(h.window->WindowHeightTwips(), 6705);
        QCOMPARE(h.window->centralWidget()->height(),
                 TwipsToPixels(6705 - 825, h.window->logicalDpiY()));
    }
    {
        Harness h(DemoSettings(1));
        QCOMPARE(h.window->WindowHeightTwips(), 9930);
        QCOMPARE(h.window->centralWidget()->height(), TwipsToPixels(9105, h.window->logicalDpiY()));
        // The whole "Diagnose" frame fits in the tall window.
        const QWidget* diagnose = h.Find<QWidget>("frameDiagnose");
        QVERIFY(diagnose->geometry().bottom() < h.window->centralWidget()->height());
    }
}

void WindowsTest::startUpBoxWhenThePortIsMissing() {
    Harness h(DemoSettings(1), /*failOpen=*/true);
    QCOMPARE(int(h.boxes.size()), 1);
    QCOMPARE(h.boxes[0].text, std::string("Error setting Comport!\r\nCheck settings"));
    QCOMPARE(h.boxes[0].title, std::string("Zelvano"));
    QVERIFY(!h.boxes[0].mainWindowShown);
    QCOMPARE(h.app().espa.EspaState, std::int16_t{0});
    bool logged = false;
    for (int i = 0; i < 10; ++i) {
        const QString name = QString("Text2_%1").arg(i);
        logged = logged || h.window->findChild<QLineEdit*>(name)->text().contains(
                               "Error opening ComPort:  1");
    }
    QVERIFY(logged);
    // Not opened: the design texts stay.
    QCOMPARE(h.Find<QLabel>("LabLinkStatus")->toolTip(),
             QString("RTS status, click on text to change"));
    h.window->LedTimer_Timer();
    QCOMPARE(h.Find<QLabel>("LabLink")->text(), QString());
    QCOMPARE(h.Find<QGroupBox>("FrmCommunicatie")->title(), QString("Serial Port: X"));
}

void WindowsTest::quitAsksAndEndsOnOk() {
    Harness h;
    h.answer = MessageAnswer::Cancel;
    h.Menu("Einde")->trigger();
    QCOMPARE(int(h.boxes.size()), 1);
    QCOMPARE(h.boxes[0].text, std::string("You want to quit the program?"));
    QCOMPARE(h.boxes[0].title, std::string("Zelvano"));
    QVERIFY(h.line.IsOpen());
    QCOMPARE(h.quits, 0);

    h.answer = MessageAnswer::Ok;
    h.Menu("Einde")->trigger();
    QVERIFY(!h.line.IsOpen());
    QCOMPARE(h.quits, 1);
    QVERIFY(!h.Find<QTimer>("TmrAfhandel")->isActive());
}

void WindowsTest::closeBoxEndsWithoutAQuestion() {
    Harness h;
    h.window->show();
    const int closes = h.line.closeCount;
    h.window->close();
    QVERIFY(h.boxes.empty());
    QVERIFY(!h.line.IsOpen());
    QCOMPARE(h.line.closeCount, closes + 1);
    QCOMPARE(h.quits, 1);
    h.window.reset();  // the end of the window object closes nothing twice
    QCOMPARE(h.line.closeCount, closes + 1);
}

void WindowsTest::ledTickPaintsIndicatorsAndLink() {
    Harness h;
    auto background = [&](const char* name) {
        return h.Find<QWidget>(name)->palette().color(QPalette::Window);
    };
    QCOMPARE(background("ShpTx"), QColor(128, 0, 0));  // design colour: off
    h.app().activity.TxdActive = true;
    h.line.cts = true;
    h.line.rts = false;
    h.app().espa.LineOk = 1;
    h.window->LedTimer_Timer();
    QCOMPARE(background("ShpTx"), QColor(255, 0, 0));
    QCOMPARE(background("ShpRx"), QColor(0, 128, 0));
    QCOMPARE(background("ShpCTS"), QColor(255, 255, 128));
    QCOMPARE(background("ShpRTS"), QColor(192, 192, 0));
    QLabel* link = h.Find<QLabel>("LabLink");
    QCOMPARE(link->text(), QString("ESPA Slave OK"));
    QCOMPARE(link->palette().color(QPalette::Window), ToQColor(CellColor::ButtonFace()));
    QCOMPARE(link->palette().color(QPalette::WindowText), QColor(0, 0, 0));

    h.app().espa.LineOk = 0;
    h.window->LedTimer_Timer();
    QCOMPARE(background("ShpTx"), QColor(128, 0, 0));
    QCOMPARE(link->text(), QString("ERROR connecting ESPA Slave"));
    QCOMPARE(link->palette().color(QPalette::Window), QColor(255, 0, 0));
    QCOMPARE(link->palette().color(QPalette::WindowText), QColor(255, 255, 255));

    // A click on "RTS" in handshake mode 0 lights the indicator at the next tick.
    QTest::mouseClick(h.Find<QLabel>("LabLinkStatus"), Qt::LeftButton);
    h.window->LedTimer_Timer();
    QCOMPARE(background("ShpRTS"), QColor(255, 255, 128));
}

void WindowsTest::stateCellsByState_data() {
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QColor>("text");
    QTest::addColumn<QColor>("background");
    QTest::addColumn<bool>("tip");
    const QColor windowText = ToQColor(CellColor::WindowText());
    const QColor buttonFace = ToQColor(CellColor::ButtonFace());
    const QColor white(255, 255, 255), blue(0, 0, 192), red(192, 0, 0);
    QTest::newRow("NEW") << "NEW"
                         << "" << windowText << buttonFace << false;
    QTest::newRow("PAGED") << "PAGED"
                           << "PAGED" << white << blue << true;
    QTest::newRow("ABSENT") << "ABSENT"
                            << "ABSENT" << white << red << true;
    QTest::newRow("QUEUE") << "QUEUE"
                           << "QUEUE" << windowText << QColor(255, 255, 0) << true;
    QTest::newRow("TERMINATED") << "TERMINATED"
                                << "TERMINATED" << white << red << true;
    QTest::newRow("NO STATUS") << "NO STATUS"
                               << "NO STATUS" << white << blue << true;
    QTest::newRow("BUSY") << "BUSY"
                          << "BUSY" << windowText << buttonFace << false;
    QTest::newRow("SPEECHPAGED") << "SPEECHPAGED"
                                 << "SPEECHPAGED" << windowText << buttonFace << false;
    QTest::newRow("ERROR") << "ERROR"
                           << "ERROR" << windowText << buttonFace << false;
}

void WindowsTest::stateCellsByState() {
    QFETCH(QString, status);
    QFETCH(QString, caption);
    QFETCH(QColor, text);
    QFETCH(QColor, background);
    QFETCH(bool, tip);
    Harness h;
    // Row 1 first shows PAGED, so every property must be rewritten.
    AddCall(h.app(), "1", "1", "a", "3", "1", "3");
    AddCall(h.app(), "22", "C", "text two", "2", "1", "1");
    h.app().CallBuffer[1].Status = "PAGED";
    ShowCallBuffer(h.app());
    h.app().CallBuffer[1].Status = status.toStdString();
    ShowCallBuffer(h.app());

    QLabel* cell = h.Find<QLabel>("LabReturnedStatus_1");
    QCOMPARE(cell->text(), caption);
    QCOMPARE(cell->palette().color(QPalette::WindowText), text);
    QCOMPARE(cell->palette().color(QPalette::Window), background);
    QCOMPARE(cell->toolTip(), tip ? QString("DoubleClick here to delete this entry.") : QString());
    QCOMPARE(h.Find<QLabel>("LabAdres_1")->text(), QString("22"));
    QCOMPARE(h.Find<QLabel>("LabInfo_1")->text(), QString("text two"));
    QCOMPARE(h.Find<QLabel>("LabBleep_1")->text(), QString("C"));
    QCOMPARE(h.Find<QLabel>("LabCallType_1")->text(), QString("1"));
    QCOMPARE(h.Find<QLabel>("LabPriority_1")->text(), QString("2"));
}

void WindowsTest::doubleClickRemovesByState_data() {
    QTest::addColumn<QString>("status");
    QTest::addColumn<bool>("removed");
    for (const char* s : {"ABSENT", "PAGED", "QUEUE", "TERMINATED", "NO STATUS", "ERROR"}) {
        QTest::newRow(s) << s << true;
    }
    for (const char* s : {"NEW", "BUSY", "SPEECHPAGED"}) {
        QTest::newRow(s) << s << false;
    }
}

void WindowsTest::doubleClickRemovesByState() {
    QFETCH(QString, status);
    QFETCH(bool, removed);
    Harness h;
    AddCall(h.app(), "100", "1", "", "3", "1", "3");
    AddCall(h.app(), "200", "1", "", "3", "1", "3");
    AddCall(h.app(), "300", "1", "", "3", "1", "3");
    h.app().CallBuffer[1].Status = status.toStdString();
    h.app().CallBuffer[2].Status = "ERROR";
    ShowCallBuffer(h.app());

    QTest::mouseDClick(h.Find<QLabel>("LabReturnedStatus_1"), Qt::LeftButton);
    QCOMPARE(h.beeps, removed ? 1 : 0);
    QCOMPARE(h.Occupied(), removed ? 2 : 3);
    // The call that moved up is not examined again.
    QCOMPARE(h.Find<QLabel>("LabAdres_1")->text(), QString(removed ? "300" : "200"));
    // Only the state cell reacts.
    QTest::mouseDClick(h.Find<QLabel>("LabAdres_0"), Qt::LeftButton);
    QCOMPARE(h.Occupied(), removed ? 2 : 3);
}

void WindowsTest::callWithTheDefaultsOfAFirstOpening() {
    Harness h;
    h.Menu("CallPager")->trigger();
    QPointer<CallWindow> call = h.window->callWindow();
    QCOMPARE(call->findChild<QLineEdit*>("TextAdres")->text(), QString("1234"));
    QCOMPARE(call->findChild<QLineEdit*>("TextAlfa")->text(), QString("Enter AlfaText"));
    QCOMPARE(call->findChild<QComboBox*>("ComboBleep")->currentText(),
             QString("1 = bleeppattern 1"));
    QCOMPARE(call->findChild<QComboBox*>("ComboCallType")->currentText(),
             QString("3 = Standard (code) Call"));
    QCOMPARE(call->findChild<QComboBox*>("ComboPrio")->currentText(), QString("3 = Normal"));
    QCOMPARE(call->findChild<QComboBox*>("ComboNrOfTx")->currentText(),
             QString("1 = 1 transmission"));
    QCOMPARE(call->findChild<QComboBox*>("ComboAutoRepeatTime")->currentText(),
             QString("No AutoRepeat call"));
    QVERIFY(!call->findChild<QPushButton*>("CmdStopAutoCall")->isEnabled());
    QCOMPARE(call->findChild<QTimer*>("Timer1")->interval(), 250);

    QTest::mouseClick(call->findChild<QPushButton*>("CmdCall"), Qt::LeftButton);
    Settle();
    QVERIFY(call.isNull());  // unloaded
    const CallBufferEntry& entry = h.app().CallBuffer[0];
    QCOMPARE(entry.Address, std::string("1234"));
    QCOMPARE(entry.Alfa, std::string("Enter AlfaText"));
    QCOMPARE(entry.Bleep, std::string("1"));
    QCOMPARE(entry.Priority, std::string("3"));
    QCOMPARE(entry.CallType, std::string("3"));
    QCOMPARE(entry.NrOfTx, std::string("1"));
    QCOMPARE(entry.Status, std::string("NEW"));
    QCOMPARE(h.Find<QLabel>("LabAdres_0")->text(), QString("1234"));
    QCOMPARE(h.Find<QLabel>("LabInfo_0")->text(), QString("Enter AlfaText"));
    QVERIFY(h.Find<QLineEdit>("Text2_2")->text().contains(
        "STATUS: Call to Buffer for Pager: [1234] Alfa: [Enter AlfaText] Bleep: [1] NrOfTx: [1] "
        "Priority: [3] Calltype: [3]"));
}

void WindowsTest::callWindowRemembersTheLastCall() {
    Harness h;
    h.Menu("CallPager")->trigger();
    CallWindow* call = h.window->callWindow();
    auto* adres = call->findChild<QLineEdit*>("TextAdres");
    adres->clear();
    QTest::keyClicks(adres, "555");
    call->findChild<TypeableCombo*>("ComboBleep")->SetPosition(12);
    call->findChild<TypeableCombo*>("ComboPrio")->SetPosition(1);
    call->findChild<TypeableCombo*>("ComboAutoRepeatTime")->SetPosition(3);
    call->CmdCall_Click();
    Settle();

    h.Menu("CallPager")->trigger();
    call = h.window->callWindow();
    QCOMPARE(call->findChild<QLineEdit*>("TextAdres")->text(), QString("555"));
    QCOMPARE(call->findChild<QComboBox*>("ComboBleep")->currentText(), QString("C"));
    QCOMPARE(call->findChild<QComboBox*>("ComboPrio")->currentText(), QString("1 = Emergency"));
    QCOMPARE(call->findChild<QComboBox*>("ComboAutoRepeatTime")->currentText(),
             QString("AutoRepeat every 30secs"));
    QVERIFY(call->findChild<QPushButton*>("CmdStopAutoCall")->isEnabled());
}

void WindowsTest::typedOverListsGiveOne() {
    Harness h;
    h.Menu("CallPager")->trigger();
    CallWindow* call = h.window->callWindow();
    auto* prio = call->findChild<TypeableCombo*>("ComboPrio");
    prio->lineEdit()->selectAll();
    QTest::keyClicks(prio->lineEdit(), "2 = High");  // typed, even matching an entry
    QCOMPARE(prio->Position(), std::int16_t{-1});
    auto* bleep = call->findChild<TypeableCombo*>("ComboBleep");
    bleep->lineEdit()->selectAll();
    QTest::keyClicks(bleep->lineEdit(), "7");
    QCOMPARE(call->Form().bleep, std::int16_t{-1});

    // Picking an entry from the list gives a position again.
    auto* type = call->findChild<TypeableCombo*>("ComboCallType");
    type->lineEdit()->selectAll();
    QTest::keyClicks(type->lineEdit(), "x");
    type->setCurrentIndex(2);
    emit type->activated(2);
    QCOMPARE(type->Position(), std::int16_t{2});

    call->CmdCall_Click();
    const CallBufferEntry& entry = h.app().CallBuffer[0];
    QCOMPARE(entry.Priority, std::string("1"));
    QCOMPARE(entry.Bleep, std::string("1"));
    QCOMPARE(entry.CallType, std::string("2"));
    QCOMPARE(h.app().LastCall.PriorityIndex, std::int16_t{-1});
}

void WindowsTest::transmissionsListOffForPhilips() {
    Settings philips = DemoSettings(1);
    philips.Emulatie = 0;
    Harness h(philips);
    h.Menu("CallPager")->trigger();
    auto* nrOfTx = h.window->callWindow()->findChild<QComboBox*>("ComboNrOfTx");
    QVERIFY(!nrOfTx->isEnabled());
    QCOMPARE(nrOfTx->currentText(), QString("1 = 1 transmission"));
    h.window->callWindow()->CmdCall_Click();
    QCOMPARE(h.app().CallBuffer[0].NrOfTx, std::string("1"));
}

void WindowsTest::autoRepeatQueuesAndStops() {
    Harness h;
    h.Menu("CallPager")->trigger();
    h.window->callWindow()->findChild<TypeableCombo*>("ComboAutoRepeatTime")->SetPosition(1);
    h.window->callWindow()->CmdCall_Click();
    Settle();
    QCOMPARE(h.Occupied(), 1);
    QList<int> queuedAt;
    for (int tick = 1; tick <= 25; ++tick) {
        const int before = h.Occupied();
        h.window->TmrBuffer_Timer();
        if (h.Occupied() > before) {
            queuedAt << tick;
        }
    }
    QCOMPARE(queuedAt, (QList<int>{10, 20}));

    // The call window is the way to the Stop button.
    h.Menu("CallPager")->trigger();
    CallWindow* call = h.window->callWindow();
    auto* stop = call->findChild<QPushButton*>("CmdStopAutoCall");
    QVERIFY(stop->isEnabled());
    QTest::mouseClick(stop, Qt::LeftButton);
    QCOMPARE(call->findChild<QComboBox*>("ComboAutoRepeatTime")->currentIndex(), 0);
    call->Timer1_Timer();
    QVERIFY(!stop->isEnabled());
    QVERIFY(call->isVisible());  // Stop leaves the window open
    for (int tick = 0; tick < 30; ++tick) {
        h.window->TmrBuffer_Timer();
    }
    QCOMPARE(h.Occupied(), 3);
}

void WindowsTest::callWithoutPeriodEndsARunningRepeat() {
    Harness h;
    h.Menu("CallPager")->trigger();
    h.window->callWindow()->findChild<TypeableCombo*>("ComboAutoRepeatTime")->SetPosition(2);
    h.window->callWindow()->CmdCall_Click();
    Settle();
    h.Menu("CallPager")->trigger();
    h.window->callWindow()->findChild<TypeableCombo*>("ComboAutoRepeatTime")->SetPosition(0);
    h.window->callWindow()->CmdCall_Click();
    Settle();
    QCOMPARE(h.app().autoRepeat.AutoRepeatActive, std::int16_t{0});
    for (int tick = 0; tick < 45; ++tick) {
        h.window->TmrBuffer_Timer();
    }
    QCOMPARE(h.Occupied(), 2);  // the two Calls, no repetition and no flood
}

void WindowsTest::cancelSendsNothing() {
    Harness h;
    h.Menu("CallPager")->trigger();
    QPointer<CallWindow> call = h.window->callWindow();
    call->findChild<QLineEdit*>("TextAdres")->setText("888");
    QTest::mouseClick(call->findChild<QPushButton*>("CmdCancel"), Qt::LeftButton);
    Settle();
    QVERIFY(call.isNull());
    QCOMPARE(h.Occupied(), 0);
    QCOMPARE(h.app().LastCall.Address, std::string());
}

void WindowsTest::settingsOpenLockedAndGrey() {
    Harness h(std::nullopt);  // no espa.set: the all-zero record
    h.Menu("Instellingen")->trigger();
    SettingsWindow* settings = h.window->settingsWindow();
    const QStringList expected{"Philips",
                               "Com1",
                               "300",
                               "N",
                               "7",
                               "1",
                               "No HandShake",
                               "LineCheck 1 ENQ 2 ENQ ",
                               "StatusCheck With SOH 3 before 2 ENQ",
                               "No Log enabled",
                               "Check 100ms Interval"};
    for (int i = 0; i < kSingleComboCount; ++i) {
        auto* combo = settings->findChild<TypeableCombo*>(SingleCombos()[i].name);
        QCOMPARE(combo->currentText(), expected[i]);
        QVERIFY(combo->IsLocked());
        QCOMPARE(combo->TextColor(), QColor(192, 192, 192));
    }
    auto* trans = settings->findChild<TypeableCombo*>("ComboEspaTrans_3");
    QCOMPARE(trans->currentText(), QString("Not Used"));
    QCOMPARE(trans->count(), 7);
    QVERIFY(!settings->findChild<QCheckBox*>("ChkVariableEspaString")->isEnabled());
    QVERIFY(!settings->findChild<QCheckBox*>("ChkVariableEspaString")->isChecked());
    QVERIFY(!settings->findChild<QPushButton*>("CmdSave")->isEnabled());
    QVERIFY(!settings->findChild<QPushButton*>("CmdCancel")->isEnabled());
    QVERIFY(settings->findChild<QPushButton*>("CmdWijzigen")->isEnabled());
    QVERIFY(settings->findChild<QPushButton*>("CmdClose")->isEnabled());

    // A locked list refuses a change by keyboard.
    auto* baud = settings->findChild<TypeableCombo*>("ComboBaud");
    baud->setFocus();
    QTest::keyClick(baud, Qt::Key_Down);
    QCOMPARE(baud->Position(), std::int16_t{0});
    QTest::keyClicks(baud->lineEdit(), "9");
    QCOMPARE(baud->currentText(), QString("300"));
}

void WindowsTest::settingsChangeCancelLeavesFileAlone() {
    Harness h;
    const std::string before = test::ReadFileBytes(SettingsPath(h.dir.path()));
    const int opens = h.line.openCount;
    h.Menu("Instellingen")->trigger();
    SettingsWindow* settings = h.window->settingsWindow();
    QTest::mouseClick(settings->findChild<QPushButton*>("CmdWijzigen"), Qt::LeftButton);
    auto* baud = settings->findChild<TypeableCombo*>("ComboBaud");
    QVERIFY(!baud->IsLocked());
    QCOMPARE(baud->TextColor(), QApplication::palette().color(QPalette::WindowText));
    QVERIFY(!settings->findChild<QPushButton*>("CmdClose")->isEnabled());
    QVERIFY(!settings->findChild<QPushButton*>("CmdWijzigen")->isEnabled());
    QVERIFY(settings->findChild<QCheckBox*>("ChkVariableEspaString")->isEnabled());
    baud->SetPosition(7);
    settings->findChild<QCheckBox*>("ChkVariableEspaString")->setChecked(true);

    QTest::mouseClick(settings->findChild<QPushButton*>("CmdCancel"), Qt::LeftButton);
    QCOMPARE(baud->currentText(), QString("9600"));
    QVERIFY(baud->IsLocked());
    QVERIFY(!settings->findChild<QCheckBox*>("ChkVariableEspaString")->isChecked());
    QCOMPARE(test::ReadFileBytes(SettingsPath(h.dir.path())), before);
    QCOMPARE(h.line.openCount, opens);
    QCOMPARE(h.app().settings, DemoSettings(1));
}

void WindowsTest::settingsSaveWritesAndReopens() {
    Harness h(DemoSettings(0));
    QCOMPARE(h.window->WindowHeightTwips(), 6705);
    const int opens = h.line.openCount;
    const int closes = h.line.closeCount;
    h.Menu("Instellingen")->trigger();
    SettingsWindow* settings = h.window->settingsWindow();
    settings->CmdWijzigen_Click();
    settings->findChild<TypeableCombo*>("ComboLogfile")->SetPosition(1);
    settings->findChild<TypeableCombo*>("ComboEspaTrans_0")->SetPosition(1);
    auto* interval = settings->findChild<TypeableCombo*>("ComboDeviceCheckInterval");
    interval->lineEdit()->selectAll();
    QTest::keyClicks(interval->lineEdit(), "fast");  // no selected entry: -1
    QTest::mouseClick(settings->findChild<QPushButton*>("CmdSave"), Qt::LeftButton);

    Settings expected = DemoSettings(1);
    expected.EspaSet[0] = 1;
    expected.CheckInterval = -1;
    QCOMPARE(h.app().settings, expected);
    QCOMPARE(test::ReadFileBytes(SettingsPath(h.dir.path())), FormatSettings(expected));
    QCOMPARE(h.window->WindowHeightTwips(), 9930);
    QCOMPARE(h.line.closeCount, closes + 1);
    QCOMPARE(h.line.openCount, opens + 1);
    QVERIFY(h.line.IsOpen());
    QVERIFY(h.boxes.empty());
    QVERIFY(settings->isVisible());  // stays open, viewing again
    QVERIFY(settings->findChild<TypeableCombo*>("ComboLogfile")->IsLocked());
    QVERIFY(settings->findChild<QPushButton*>("CmdClose")->isEnabled());
}

void WindowsTest::settingsSaveFailureShowsTheBox() {
    Harness h;
    h.Menu("Instellingen")->trigger();
    h.line.failOpen = true;
    h.window->settingsWindow()->CmdWijzigen_Click();
    h.window->settingsWindow()->CmdSave_Click();
    QCOMPARE(int(h.boxes.size()), 1);
    QCOMPARE(h.boxes[0].text, std::string("Error setting Comport!\r\nCheck settings"));
    QCOMPARE(h.boxes[0].title, std::string("Zelvano"));
}

void WindowsTest::settingsCloseBoxDropsChanges() {
    Harness h;
    h.Menu("Instellingen")->trigger();
    QPointer<SettingsWindow> settings = h.window->settingsWindow();
    settings->CmdWijzigen_Click();
    settings->findChild<TypeableCombo*>("ComboParity")->SetPosition(2);
    settings->close();
    Settle();
    QVERIFY(settings.isNull());
    h.Menu("Instellingen")->trigger();
    QCOMPARE(h.window->settingsWindow()->findChild<QComboBox*>("ComboParity")->currentText(),
             QString("N"));
    QVERIFY(h.window->settingsWindow()->findChild<TypeableCombo*>("ComboParity")->IsLocked());
}

void WindowsTest::aboutShowsTheVersion() {
    Harness h;
    h.Menu("Info")->trigger();
    QPointer<AboutWindow> about = h.window->aboutWindow();
    QCOMPARE(about->findChild<QLabel*>("Label4")->text(), QString("Software version: 3.5"));
    const QPixmap picture = about->findChild<QLabel*>("Image1")->pixmap();
    QVERIFY(!picture.isNull());
    // A drawn picture, not a blank square.
    const QImage image = picture.toImage();
    QVERIFY(image.pixelColor(2, 2) != image.pixelColor(image.width() / 2, image.height() / 2));
    // The folder in use, whole, beside its caption.
    QCOMPARE(about->findChild<QLabel*>("LabDataFolder")->text(), QString("Data folder:"));
    const QLineEdit* folder = about->findChild<QLineEdit*>("TxtDataFolder");
    QVERIFY(folder);
    QCOMPARE(folder->text(), QString::fromStdString(h.dir.path().string()));
    QVERIFY(folder->isReadOnly());
    QTest::mouseClick(about->findChild<QPushButton*>("CmdSluit"), Qt::LeftButton);
    Settle();
    QVERIFY(about.isNull());
}

void WindowsTest::secondaryWindowTakesTheFocusBack() {
    Harness h;
    h.window->show();
    QVERIFY(QTest::qWaitForWindowActive(h.window.get()));
    h.Menu("CallPager")->trigger();
    CallWindow* call = h.window->callWindow();
    QVERIFY(QTest::qWaitForWindowActive(call));
    const int beeps = h.beeps;

    h.window->activateWindow();
    QTRY_COMPARE(h.beeps, beeps + 1);
    QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget*>(call));
}

void WindowsTest::twoSecondaryWindowsDoNotFight() {
    Harness h;
    h.window->show();
    QVERIFY(QTest::qWaitForWindowActive(h.window.get()));
    h.Menu("CallPager")->trigger();
    h.Menu("Info")->trigger();
    AboutWindow* about = h.window->aboutWindow();
    QVERIFY(QTest::qWaitForWindowActive(about));
    QCOMPARE(h.window->focusKeeper()->Keeper(), static_cast<QWidget*>(about));

    // The older secondary window and the main window both lose to the newest.
    FocusKeeper* keeper = h.window->focusKeeper();
    h.window->callWindow()->activateWindow();
    QTRY_COMPARE(keeper->Reclaims(), 1);
    QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget*>(about));
    h.window->activateWindow();
    QTRY_COMPARE(keeper->Reclaims(), 2);
    QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget*>(about));
    // Let the event loop run a while: the focus stays put, nothing reclaims on.
    QTest::qWait(100);
    QCOMPARE(keeper->Reclaims(), 2);
    QVERIFY(h.beeps >= 1 && h.beeps <= 2);

    // With the newest window gone, the call window keeps the focus again.
    about->close();
    Settle();
    QCOMPARE(h.window->focusKeeper()->Keeper(), static_cast<QWidget*>(h.window->callWindow()));
}

QTEST_MAIN(WindowsTest)
#include "WindowsTest.moc"
