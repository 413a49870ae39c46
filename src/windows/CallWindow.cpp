#include "windows/CallWindow.h"

#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "windows/QtLook.h"
#include "windows/TypeableCombo.h"
#include "windows/WindowKeys.h"

namespace zelvano {

namespace {

// Layout in twips: captions on the left, fields on the right, one row each.
constexpr int kCaptionLeft = 240;
constexpr int kCaptionWidth = 2055;
constexpr int kFieldLeft = 2400;
constexpr int kFirstRowTop = 240;
constexpr int kRowStep = 480;
constexpr int kFieldHeight = 315;
constexpr int kListWidth = 3015;
constexpr int kClientWidth = 7920;
constexpr int kClientHeight = 4560;

int RowTop(int row) {
    return kFirstRowTop + kRowStep * row;
}

}  // namespace

CallWindow::CallWindow(PagingCore& core, Console& console, QWidget* parent)
    : QWidget(parent, Qt::Window), core_(core), console_(console) {
    setObjectName("frmCall");
    ApplyDesignFont(this);
    setWindowTitle("Call Window");
    setAttribute(Qt::WA_DeleteOnClose);
    BuildControls();
    SetTabOrder();

    // Window load: the lists and texts from LastCall, then one Timer1 step.
    ShowForm(LoadCallForm(console_, core_.CurrentSettings()));
    Timer1_Timer();
    timer1_->start();
}

void CallWindow::BuildControls() {
    setFixedSize(TwipsToPixels(kClientWidth, logicalDpiX()),
                 TwipsToPixels(kClientHeight, logicalDpiY()));
    const char* captions[] = {"Address:",  "BleepCode:",           "Alfanumeric Text:", "CallType:",
                              "Priority:", "Nr of Transmissions:", "Auto repeat time: "};
    for (int row = 0; row < 7; ++row) {
        auto* caption = new QLabel(captions[row], this);
        caption->setObjectName(QString("Caption_%1").arg(row));
        PlaceTwips(caption, kCaptionLeft, RowTop(row), kCaptionWidth, kFieldHeight);
    }

    textAdres_ = new QLineEdit(kDesignAddressText, this);
    textAdres_->setObjectName("TextAdres");
    PlaceTwips(textAdres_, kFieldLeft, RowTop(0), 1815, kFieldHeight);

    comboBleep_ = new TypeableCombo(this);
    comboBleep_->setObjectName("ComboBleep");
    PlaceTwips(comboBleep_, kFieldLeft, RowTop(1), kListWidth, kFieldHeight);

    textAlfa_ = new QLineEdit(kDesignAlfaText, this);
    textAlfa_->setObjectName("TextAlfa");
    PlaceTwips(textAlfa_, kFieldLeft, RowTop(2), 5295, kFieldHeight);

    comboCallType_ = new TypeableCombo(this);
    comboCallType_->setObjectName("ComboCallType");
    PlaceTwips(comboCallType_, kFieldLeft, RowTop(3), kListWidth, kFieldHeight);

    comboPrio_ = new TypeableCombo(this);
    comboPrio_->setObjectName("ComboPrio");
    PlaceTwips(comboPrio_, kFieldLeft, RowTop(4), kListWidth, kFieldHeight);

    comboNrOfTx_ = new TypeableCombo(this);
    comboNrOfTx_->setObjectName("ComboNrOfTx");
    PlaceTwips(comboNrOfTx_, kFieldLeft, RowTop(5), kListWidth, kFieldHeight);

    comboAutoRepeatTime_ = new TypeableCombo(this);
    comboAutoRepeatTime_->setObjectName("ComboAutoRepeatTime");
    PlaceTwips(comboAutoRepeatTime_, kFieldLeft, RowTop(6), kListWidth, kFieldHeight);

    cmdStopAutoCall_ = new QPushButton("Stop auto callrepeat", this);
    cmdStopAutoCall_->setObjectName("CmdStopAutoCall");
    PlaceTwips(cmdStopAutoCall_, 5520, RowTop(6) - 30, 2175, 375);

    cmdCancel_ = new QPushButton("Cancel", this);
    cmdCancel_->setObjectName("CmdCancel");
    PlaceTwips(cmdCancel_, 4080, 3840, 1455, 435);

    cmdCall_ = new QPushButton("Call", this);
    cmdCall_->setObjectName("CmdCall");
    cmdCall_->setDefault(true);
    PlaceTwips(cmdCall_, 5760, 3840, 1455, 435);

    timer1_ = new QTimer(this);
    timer1_->setObjectName("Timer1");
    timer1_->setInterval(250);

    connect(cmdCall_, &QPushButton::clicked, this, &CallWindow::CmdCall_Click);
    connect(cmdCancel_, &QPushButton::clicked, this, &CallWindow::CmdCancel_Click);
    connect(cmdStopAutoCall_, &QPushButton::clicked, this, &CallWindow::CmdStopAutoCall_Click);
    connect(timer1_, &QTimer::timeout, this, &CallWindow::Timer1_Timer);
    // Return is Call (Call is the default button), or the focused button;
    // Escape is Cancel.
    BindWindowKeys(this, cmdCall_, [this] { cmdCancel_->click(); });
}

void CallWindow::SetTabOrder() {
    const QWidget* order[] = {textAdres_,           textAlfa_,       cmdCall_,       cmdCancel_,
                              comboBleep_,          comboPrio_,      comboCallType_, comboNrOfTx_,
                              comboAutoRepeatTime_, cmdStopAutoCall_};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i) {
        setTabOrder(const_cast<QWidget*>(order[i]), const_cast<QWidget*>(order[i + 1]));
    }
    textAdres_->setFocus();
}

void CallWindow::ShowForm(const CallForm& form) {
    comboNrOfTx_->setEnabled(form.nrOfTxEnabled);
    comboBleep_->SetEntries(BleepEntries());
    comboBleep_->SetPosition(form.bleep);
    comboPrio_->SetEntries(PriorityEntries());
    comboPrio_->SetPosition(form.priority);
    comboCallType_->SetEntries(CallTypeEntries());
    comboCallType_->SetPosition(form.callType);
    comboNrOfTx_->SetEntries(NrOfTxEntries());
    comboNrOfTx_->SetPosition(form.nrOfTx);
    textAdres_->setText(QString::fromStdString(form.address));
    textAlfa_->setText(QString::fromStdString(form.alfa));
    comboAutoRepeatTime_->SetEntries(AutoRepeatEntries());
    comboAutoRepeatTime_->SetPosition(form.autoRepeat);
}

CallForm CallWindow::Form() const {
    CallForm form;
    form.address = textAdres_->text().toStdString();
    form.alfa = textAlfa_->text().toStdString();
    form.bleep = comboBleep_->Position();
    form.priority = comboPrio_->Position();
    form.callType = comboCallType_->Position();
    form.nrOfTx = comboNrOfTx_->Position();
    form.autoRepeat = comboAutoRepeatTime_->Position();
    form.nrOfTxEnabled = comboNrOfTx_->isEnabled();
    return form;
}

void CallWindow::CmdCall_Click() {
    const Submitted submitted = PlaceCall(core_, console_, Form());
    if (submitted.id == 0) {
        QMessageBox::warning(this, windowTitle(), QString::fromStdString(submitted.refusal));
        return;
    }
    emit RepeatChanged();
    close();
}

void CallWindow::CmdCancel_Click() {
    close();
}

void CallWindow::CmdStopAutoCall_Click() {
    console_.repeat.active = false;
    comboAutoRepeatTime_->SetPosition(0);
    emit RepeatChanged();
}

void CallWindow::Timer1_Timer() {
    cmdStopAutoCall_->setEnabled(console_.repeat.active);
}

}  // namespace zelvano
