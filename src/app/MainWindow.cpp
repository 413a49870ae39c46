#include "app/MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "app/ClickLabel.h"
#include "app/Indicator.h"
#include "app/MainTicks.h"
#include "app/StartUp.h"
#include "windows/AboutWindow.h"
#include "windows/BufferDisplay.h"
#include "windows/CallEntry.h"
#include "windows/CallWindow.h"
#include "windows/FocusKeeper.h"
#include "windows/QtLook.h"
#include "windows/SettingsWindow.h"

namespace zelvano {

namespace {

constexpr int kClientWidth = 10065;
// The outer height counts the title bar and the menu bar, which took these
// twips on the desktop the heights were chosen for; the window keeps the
// client part, so the same controls show whatever this desktop's frame is.
constexpr int kNonClientTwips = 825;

// The buffer columns: left and width in twips, heading, left-aligned text.
struct Column {
    int left, width;
    const char* heading;
    const char* name;
};
constexpr Column kColumns[] = {
    {240, 975, "Adres", "LabAdres"},        {1320, 4335, "Info", "LabInfo"},
    {5760, 615, "Bleep", "LabBleep"},       {6480, 615, "CallType", "LabCallType"},
    {7200, 615, "Priority", "LabPriority"}, {7920, 1695, "Status", "LabReturnedStatus"},
};
constexpr int kInfoColumn = 1;
constexpr int kStatusColumn = 5;

// Array controls are named "<name>_<index>".
QString IndexedName(const char* name, int index) {
    return QString("%1_%2").arg(name).arg(index);
}

Indicator* MakeIndicator(QWidget* parent, const char* name, const CellColor& offColor, int left) {
    auto* shape = new Indicator(ToQColor(offColor), parent);
    shape->setObjectName(name);
    PlaceTwips(shape, left, 360, 255, 135);
    return shape;
}

QLabel* MakeSmallLabel(QWidget* parent, const char* name, const char* text, int left) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    PlaceTwipsAt(label, left, 360);
    return label;
}

// A cell whose text does not fit shows its start, ended by "…" so a clipped
// address never reads as another number, and the whole text in its tool
// tip; a text that fits keeps the column's alignment and has no tip. (A
// framed label keeps half an "x" clear beside its text.)
void ShowCellText(QLabel* cell, const QString& text, Qt::Alignment fitting) {
    const QFontMetrics metrics = cell->fontMetrics();
    const int room = cell->contentsRect().width() - metrics.horizontalAdvance(QLatin1Char('x'));
    const bool clipped = metrics.horizontalAdvance(text) > room;
    cell->setText(clipped ? metrics.elidedText(text, Qt::ElideRight, room) : text);
    cell->setAlignment(clipped ? (Qt::AlignLeft | Qt::AlignVCenter) : fitting);
    cell->setToolTip(clipped ? text : QString());
}

}  // namespace

MainWindow::MainWindow(Clock& clock, SerialLine& port, std::filesystem::path dataDir,
                       QWidget* parent)
    : QMainWindow(parent),
      core_(port, clock, std::move(dataDir)),
      driver_(new Driver(core_, this)) {
    core_.Subscribe(*this);
    setObjectName("frmMain");
    ApplyDesignFont(this);
    setWindowTitle("Zelvano - ESPA 4.4.4 Master");
    beep_ = [] { QApplication::beep(); };
    quit_ = [] { QCoreApplication::quit(); };
    messageBox_ = [this](const std::string& text, const std::string& title) {
        return DefaultMessageBox(text, title);
    };

    client_ = new QWidget(this);
    client_->setObjectName("ClientArea");
    setCentralWidget(client_);
    // The window opens with the focus on its client area, not in log line 1:
    // no caret in the log, and Tab still reaches the log lines for copying.
    client_->setFocusPolicy(Qt::StrongFocus);
    client_->setFocus();
    BuildMenu();
    BuildSerialFrame(client_);
    BuildCallsFrame(client_);
    BuildDiagnoseFrame(client_);
    BuildAutoRepeatLine(client_);
    BuildTimers();
    focusKeeper_ = new FocusKeeper([this] { Beep(); }, this);
    focusKeeper_->AddProgramWindow(this);
    SetWindowHeight(9930);
}

MainWindow::~MainWindow() {
    Terminate();
}

void MainWindow::BuildMenu() {
    struct Entry {
        const char* name;
        const char* caption;
        void (MainWindow::*handler)();
    };
    const Entry entries[] = {
        {"CallPager", "Call", &MainWindow::OpenCallWindow},
        {"Instellingen", "Settings", &MainWindow::OpenSettings},
        {"Einde", "Quit", &MainWindow::Quit},
        {"Info", "About", &MainWindow::OpenAbout},
    };
    // Each entry acts on its own click; none opens a drop-down.
    for (const Entry& entry : entries) {
        QAction* action = menuBar()->addAction(entry.caption);
        action->setObjectName(entry.name);
        connect(action, &QAction::triggered, this, entry.handler);
    }
}

void MainWindow::BuildSerialFrame(QWidget* client) {
    portFrame_ = new QGroupBox("Serial Port: X", client);
    portFrame_->setObjectName("FrmCommunicatie");
    PlaceTwips(portFrame_, 120, 120, 3975, 735);

    txLight_ = MakeIndicator(portFrame_, "ShpTx", kTxOff, 240);
    MakeSmallLabel(portFrame_, "Label4_1", "TxD", 600);
    rxLight_ = MakeIndicator(portFrame_, "ShpRx", kRxOff, 1200);
    MakeSmallLabel(portFrame_, "Label4_2", "RxD", 1560);
    rtsLight_ = MakeIndicator(portFrame_, "ShpRTS", kLineOff, 2160);

    rtsLabel_ = new ClickLabel("RTS", portFrame_);
    rtsLabel_->setObjectName("LabLinkStatus");
    rtsLabel_->setToolTip("RTS status, click on text to change");
    PlaceTwipsAt(rtsLabel_, 2520, 360);
    connect(rtsLabel_, &ClickLabel::clicked, this, [this] { core_.ToggleRts(); });

    ctsLight_ = MakeIndicator(portFrame_, "ShpCTS", kLineOff, 3120);
    MakeSmallLabel(portFrame_, "Label2", "CTS", 3480);

    linkLabel_ = new QLabel(client);
    linkLabel_->setObjectName("LabLink");
    linkLabel_->setAlignment(Qt::AlignCenter);
    PlaceTwips(linkLabel_, 4200, 480, 2535, 255);
}

void MainWindow::BuildCallsFrame(QWidget* client) {
    auto* frameCalls = new QGroupBox("Calls", client);
    frameCalls->setObjectName("frameCalls");
    PlaceTwips(frameCalls, 120, 960, 9855, 4335);

    std::array<std::array<QLabel*, 10>*, 5> plain = {&addressCells_, &textCells_, &bleepCells_,
                                                     &callTypeCells_, &priorityCells_};
    for (int c = 0; c < 6; ++c) {
        const Column& column = kColumns[c];
        auto* heading = new QLabel(column.heading, frameCalls);
        heading->setObjectName(QString("Head%1").arg(column.heading));
        heading->setAlignment(Qt::AlignCenter);
        PlaceTwips(heading, column.left, 360, column.width, 255);
        FitFontToWidth(heading, heading->text(), heading->width() - 2);

        const Qt::Alignment align =
            c == kInfoColumn ? (Qt::AlignLeft | Qt::AlignVCenter) : Qt::AlignCenter;
        for (int i = 0; i < 10; ++i) {
            QLabel* cell = c == kStatusColumn ? new ClickLabel(frameCalls) : new QLabel(frameCalls);
            cell->setObjectName(IndexedName(column.name, i));
            cell->setFrameStyle(QFrame::Panel | QFrame::Sunken);
            cell->setLineWidth(1);
            cell->setAlignment(align);
            PlaceTwips(cell, column.left, 720 + 360 * i, column.width, 255);
            if (c == kStatusColumn) {
                auto* state = static_cast<ClickLabel*>(cell);
                stateCells_[i] = state;
                connect(state, &ClickLabel::doubleClicked, this,
                        [this, i] { RemoveByDoubleClick(i); });
            } else {
                (*plain[c])[i] = cell;
            }
        }
    }

    auto* labelSoftware = new QLabel("ESPA 4.4.4 Master unit", client);
    labelSoftware->setObjectName("LabelSoftware");
    QFont font("Arial");
    font.setPointSizeF(14.25);
    labelSoftware->setFont(font);
    PaintColors(labelSoftware, palette().color(QPalette::Window), QColor(0, 0, 255));
    labelSoftware->setAutoFillBackground(false);
    PlaceTwips(labelSoftware, 240, 5400, 9615, 375);
}

void MainWindow::BuildDiagnoseFrame(QWidget* client) {
    auto* frameDiagnose = new QGroupBox("Diagnose", client);
    frameDiagnose->setObjectName("frameDiagnose");
    PlaceTwips(frameDiagnose, 120, 5880, 9855, 3015);
    const QColor buttonFace = ToQColor(CellColor::ButtonFace());
    for (int i = 0; i < 10; ++i) {
        auto* box = new QLineEdit(frameDiagnose);
        box->setObjectName(IndexedName("Text2", i));
        box->setReadOnly(true);  // the operator reads and copies the log, nothing else
        QPalette pal = box->palette();
        pal.setColor(QPalette::Base, buttonFace);
        box->setPalette(pal);
        // The box fills its own corners with the frame's colour, so a new log
        // line redraws the ten boxes without the "Diagnose" frame behind them.
        box->setAutoFillBackground(true);
        PlaceTwips(box, 240, 360 + 240 * i, 9375, 285);
        logBoxes_[i] = box;
    }
}

// Beside "ESPA 4.4.4 Master unit", only while an auto-repeat runs: what is
// repeated and how often, and a Stop, so a forgotten repeat does not go on
// filling the buffer unseen once the call window is closed.
void MainWindow::BuildAutoRepeatLine(QWidget* client) {
    repeatLabel_ = new QLabel(client);
    repeatLabel_->setObjectName("LabAutoRepeat");
    PaintColors(repeatLabel_, palette().color(QPalette::Window), QColor(192, 0, 0));
    repeatLabel_->setAutoFillBackground(false);
    PlaceTwips(repeatLabel_, 3720, 5430, 3840, 315);
    stopRepeatButton_ = new QPushButton("Stop auto callrepeat", client);
    stopRepeatButton_->setObjectName("CmdStopAutoRepeat");
    PlaceTwips(stopRepeatButton_, 7680, 5400, 2175, 375);
    connect(stopRepeatButton_, &QPushButton::clicked, this, &MainWindow::StopAutoRepeat);
    repeatLabel_->hide();
    stopRepeatButton_->hide();
}

void MainWindow::ShowAutoRepeat() {
    const AutoRepeat& repeat = console_.repeat;
    const bool running = repeat.active;
    repeatLabel_->setVisible(running);
    stopRepeatButton_->setVisible(running);
    if (!running) {
        return;
    }
    const auto& periods = AutoRepeatEntries();
    const int choice = repeat.choice;
    const QString period = choice > 0 && choice < static_cast<int>(periods.size())
                               ? QString::fromStdString(periods[static_cast<std::size_t>(choice)])
                               : QString("AutoRepeat every %1secs").arg(10 * choice);
    const LastCall& last = console_.last;
    const QString what = QString("[%1] %2").arg(QString::fromStdString(last.address),
                                                QString::fromStdString(last.text));
    const QString text = period + ": " + what;
    repeatLabel_->setText(repeatLabel_->fontMetrics().elidedText(
        text, Qt::ElideRight, repeatLabel_->contentsRect().width()));
    repeatLabel_->setToolTip(text);
}

void MainWindow::StopAutoRepeat() {
    StopRepeat(console_);
    ShowAutoRepeat();
}

void MainWindow::BuildTimers() {
    ledTimer_ = new QTimer(this);
    ledTimer_->setObjectName("LedTimer");
    ledTimer_->setInterval(250);
    ledTimer_->setTimerType(Qt::PreciseTimer);
    connect(ledTimer_, &QTimer::timeout, this, &MainWindow::LedTick);
    connect(driver_, &Driver::Ticked, this, &MainWindow::ShowLineStates);
    connect(driver_, &Driver::Second, this, [this] { RepeatStep(core_, console_); });
}

void MainWindow::Start() {
    const PortOpen opened = core_.Start();
    SetWindowHeight(zelvano::WindowHeightTwips(core_.CurrentSettings().logLevel));
    ShowPortError(opened);
    console_ = Console{};
    // Started once the start-up has returned, so no tick runs inside it (its
    // message box runs a modal loop).
    ledTimer_->start();
    driver_->Start();
}

void MainWindow::UseSettings(const Settings& settings) {
    const PortOpen opened = core_.ApplySettings(settings);
    SetWindowHeight(zelvano::WindowHeightTwips(settings.logLevel));
    ShowPortError(opened);
}

// A port that is not open is named as such in the serial frame, never the
// port before it. A failed one also shows the link's error look and a box
// naming the port and the reason, whatever the log level (the answer is not
// used); a network connection still being made is no error yet: it is picked
// up in a moment without a box.
void MainWindow::ShowPortError(PortOpen opened) {
    if (opened == PortOpen::Opened)
        return;
    const Settings& settings = core_.CurrentSettings();
    const bool failed = opened == PortOpen::Failed;
    portFrame_->setTitle(QString("Settings: Com:%1 at %2 (%3)")
                             .arg(settings.comPort + 1)
                             .arg(QString::fromStdString(SettingsString(settings)),
                                  failed ? "not open" : "connecting"));
    if (!failed)
        return;
    PaintLook(LineLook(LinkState::Down, core_.Cts(), core_.Rts()));
    const std::string reason = core_.PortError();
    ShowMessageBox(std::string(kPortErrorText) + "\r\n\r\nCom" +
                       std::to_string(settings.comPort + 1) + ": " +
                       (reason.empty() ? "could not be opened" : reason),
                   kProgramTitle);
}

void MainWindow::ShowSecondary(QWidget* window) {
    // A minimised window comes back as it was before, then in front with
    // the focus.
    if (window->isMinimized()) {
        window->setWindowState((window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    }
    window->show();
    window->raise();
    window->activateWindow();
    focusKeeper_->Keep(window);
}

void MainWindow::OpenCallWindow() {
    if (!callWindow_) {
        callWindow_ = new CallWindow(core_, console_, this);
        connect(callWindow_, &CallWindow::RepeatChanged, this, &MainWindow::ShowAutoRepeat);
        connect(callWindow_, &CallWindow::Refused, this, &MainWindow::Beep);
    }
    ShowSecondary(callWindow_);
}

void MainWindow::OpenSettings() {
    if (!settingsWindow_) {
        settingsWindow_ = new SettingsWindow(core_.CurrentSettings(), this);
        connect(settingsWindow_, &SettingsWindow::Saved, this, &MainWindow::UseSettings);
        connect(settingsWindow_, &SettingsWindow::Refused, this, &MainWindow::Beep);
    }
    ShowSecondary(settingsWindow_);
}

void MainWindow::OpenAbout() {
    if (!aboutWindow_) {
        aboutWindow_ = new AboutWindow(core_.DataDir(), this);
    }
    ShowSecondary(aboutWindow_);
}

void MainWindow::Quit() {
    if (ShowMessageBox(kQuitQuestion, kProgramTitle) != MessageAnswer::Ok)
        return;
    core_.Stop();
    // The port is closed; end at once, no other handler runs.
    terminated_ = true;
    ledTimer_->stop();
    driver_->Stop();
    quit_();
}

void MainWindow::CloseOnSignal() {
    for (int i = 0; i < 8 && QApplication::activeModalWidget() != nullptr; ++i)
        QApplication::activeModalWidget()->close();
    close();
}

// After each engine tick: a blink starts at once when the tick moved bytes
// (the LED tick paints it on and, 250 ms later, off); otherwise the link
// label, CTS and RTS are painted as they are now. So the LED timer runs
// only while an indicator is lit and an idle line wakes nothing extra.
void MainWindow::ShowLineStates() {
    const LineActivity activity = core_.TakeActivity();
    blinks_.tx.active |= activity.sent;
    blinks_.rx.active |= activity.received;
    if ((blinks_.tx.active || blinks_.rx.active) && !ledTimer_->isActive()) {
        LedTick();
        if (!terminated_) {
            ledTimer_->start();
        }
        return;
    }
    const LedLook look = LineLook(core_.Link(), core_.Cts(), core_.Rts());
    PaintLook(look);
}

void MainWindow::LedTick() {
    PaintLook(LedStep(blinks_, core_.TakeActivity(), core_.Link(), core_.Cts(), core_.Rts()));
    if (!blinks_.tx.active && !blinks_.rx.active) {
        ledTimer_->stop();  // nothing lit: the engine tick starts the next blink
    }
}

// Paints only what differs from what was painted last: the engine tick asks
// ten times a second, and even comparing a widget's palette costs more than
// the rest of an idle tick.
void MainWindow::PaintLook(const LedLook& look) {
    const auto changed = [](auto& shown, const auto& wanted) {
        if (shown && *shown == wanted) {
            return false;
        }
        shown = wanted;
        return true;
    };
    if (look.tx && changed(shownLook_.tx, *look.tx)) {
        txLight_->SetColour(ToQColor(*look.tx));
    }
    if (look.rx && changed(shownLook_.rx, *look.rx)) {
        rxLight_->SetColour(ToQColor(*look.rx));
    }
    if (look.link && changed(shownLook_.link, *look.link)) {
        PaintColors(linkLabel_, ToQColor(look.link->background), ToQColor(look.link->text));
        linkLabel_->setText(QString::fromUtf8(look.link->caption));
    }
    if (changed(shownCts_, look.cts)) {
        ctsLight_->SetColour(ToQColor(look.cts));
    }
    if (changed(shownRts_, look.rts)) {
        rtsLight_->SetColour(ToQColor(look.rts));
    }
}

void MainWindow::CallChanged(const CallChange&) {
    DrawRows();
}

void MainWindow::RemoveByDoubleClick(int index) {
    if (!CanRemoveByDoubleClick(core_.Calls()[static_cast<std::size_t>(index)].state))
        return;
    Beep();
    core_.Remove(index);
}

void MainWindow::DrawRows() {
    const CallArray& calls = core_.Calls();
    for (int i = 0; i < kCallBufferSize; ++i) {
        const Call& entry = calls[static_cast<std::size_t>(i)];
        ShowCellText(addressCells_[i], QString::fromStdString(entry.address), Qt::AlignCenter);
        ShowCellText(textCells_[i], QString::fromStdString(entry.text),
                     Qt::AlignLeft | Qt::AlignVCenter);
        bleepCells_[i]->setText(QString::fromStdString(entry.bleep));
        callTypeCells_[i]->setText(QString::fromStdString(entry.callType));
        priorityCells_[i]->setText(QString::fromStdString(entry.priority));

        const StateCell cell = StateCellFor(entry.state);
        ClickLabel* state = stateCells_[i];
        state->setText(QString::fromStdString(cell.caption));
        PaintColors(state, ToQColor(cell.background), ToQColor(cell.text));
        state->setToolTip(QString::fromStdString(cell.toolTip));
    }
    // A Call redraws the rows after it set or ended the repeat.
    ShowAutoRepeat();
}

void MainWindow::LogChanged(const ScreenLines& lines) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        SetTextFromStart(logBoxes_[i], QString::fromStdString(lines[i]));
    }
}

void MainWindow::PortOpened(const std::string& caption, bool manualRts) {
    portFrame_->setTitle(QString::fromStdString(caption));
    rtsLabel_->setToolTip(manualRts ? "RTS status, click here to change" : "");
}

void MainWindow::PortProblem(const std::string& reason) {
    portFrame_->setToolTip(QString::fromStdString(reason));
}

void MainWindow::SetWindowHeight(int twips) {
    heightTwips_ = twips;
    const int width = TwipsToPixels(kClientWidth, logicalDpiX());
    const int clientHeight = TwipsToPixels(twips - kNonClientTwips, logicalDpiY());
    client_->setFixedSize(width, clientHeight);
    setFixedSize(width, clientHeight + menuBar()->sizeHint().height());
}

MessageAnswer MainWindow::ShowMessageBox(const std::string& text, const std::string& title) {
    return messageBox_(text, title);
}

MessageAnswer MainWindow::DefaultMessageBox(const std::string& text, const std::string& title) {
    // No icon; OK and Cancel. During start-up the main window is not shown yet.
    QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(title),
                    QString::fromStdString(text), QMessageBox::Ok | QMessageBox::Cancel,
                    isVisible() ? this : nullptr);
    return box.exec() == QMessageBox::Ok ? MessageAnswer::Ok : MessageAnswer::Cancel;
}

void MainWindow::Beep() {
    beep_();
}

void MainWindow::Terminate() {
    if (!terminated_) {
        terminated_ = true;
        core_.Stop();
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // The close box asks nothing: the port is closed and the program ends.
    Terminate();
    for (QWidget* window :
         {static_cast<QWidget*>(callWindow_), static_cast<QWidget*>(settingsWindow_),
          static_cast<QWidget*>(aboutWindow_)}) {
        if (window != nullptr) {
            window->close();
        }
    }
    ledTimer_->stop();
    driver_->Stop();
    event->accept();
    quit_();
}

}  // namespace zelvano
