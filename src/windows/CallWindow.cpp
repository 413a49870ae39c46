#include "windows/CallWindow.h"

#include <QLabel>
#include <QLineEdit>
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

    // Window load: the lists and texts from the last call, then one Stop-button step.
    ShowForm(LoadCallForm(console_, core_.CurrentSettings()));
    UpdateStopButton();
    stopButtonTimer_->start();
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

    addressEdit_ = new QLineEdit(kDesignAddressText, this);
    addressEdit_->setObjectName("TextAdres");
    PlaceTwips(addressEdit_, kFieldLeft, RowTop(0), 1815, kFieldHeight);

    bleepList_ = new TypeableCombo(this);
    bleepList_->setObjectName("ComboBleep");
    PlaceTwips(bleepList_, kFieldLeft, RowTop(1), kListWidth, kFieldHeight);

    textEdit_ = new QLineEdit(kDesignText, this);
    textEdit_->setObjectName("TextAlfa");
    textEdit_->setMaxLength(kMaxCallTextLength);
    PlaceTwips(textEdit_, kFieldLeft, RowTop(2), 5295, kFieldHeight);

    callTypeList_ = new TypeableCombo(this);
    callTypeList_->setObjectName("ComboCallType");
    PlaceTwips(callTypeList_, kFieldLeft, RowTop(3), kListWidth, kFieldHeight);

    priorityList_ = new TypeableCombo(this);
    priorityList_->setObjectName("ComboPrio");
    PlaceTwips(priorityList_, kFieldLeft, RowTop(4), kListWidth, kFieldHeight);

    transmissionsList_ = new TypeableCombo(this);
    transmissionsList_->setObjectName("ComboNrOfTx");
    PlaceTwips(transmissionsList_, kFieldLeft, RowTop(5), kListWidth, kFieldHeight);

    repeatList_ = new TypeableCombo(this);
    repeatList_->setObjectName("ComboAutoRepeatTime");
    PlaceTwips(repeatList_, kFieldLeft, RowTop(6), kListWidth, kFieldHeight);

    stopButton_ = new QPushButton("Stop auto callrepeat", this);
    stopButton_->setObjectName("CmdStopAutoCall");
    PlaceTwips(stopButton_, 5520, RowTop(6) - 30, 2175, 375);

    cancelButton_ = new QPushButton("Cancel", this);
    cancelButton_->setObjectName("CmdCancel");
    PlaceTwips(cancelButton_, 4080, 3840, 1455, 435);

    callButton_ = new QPushButton("Call", this);
    callButton_->setObjectName("CmdCall");
    callButton_->setDefault(true);
    PlaceTwips(callButton_, 5760, 3840, 1455, 435);

    hintLabel_ = MakeHintLabel(this, kCaptionLeft, 3600, 3720, 840);  // beside the buttons
    for (TypeableCombo* list :
         {bleepList_, callTypeList_, priorityList_, transmissionsList_, repeatList_}) {
        connect(list, &TypeableCombo::Refused, this,
                [this](const QString& typed, const QString& shown) {
                    Refuse(RefusedEntryHint(typed, shown), nullptr);
                });
    }

    stopButtonTimer_ = new QTimer(this);
    stopButtonTimer_->setObjectName("StopButtonTimer");
    stopButtonTimer_->setInterval(250);

    connect(callButton_, &QPushButton::clicked, this, &CallWindow::CallPressed);
    connect(cancelButton_, &QPushButton::clicked, this, &CallWindow::CancelPressed);
    connect(stopButton_, &QPushButton::clicked, this, &CallWindow::StopPressed);
    connect(stopButtonTimer_, &QTimer::timeout, this, &CallWindow::UpdateStopButton);
    // Return is Call (Call is the default button), or the focused button;
    // Escape is Cancel.
    BindWindowKeys(this, callButton_, [this] { cancelButton_->click(); });
}

void CallWindow::SetTabOrder() {
    const QWidget* order[] = {addressEdit_, textEdit_,     callButton_,   cancelButton_,
                              bleepList_,   priorityList_, callTypeList_, transmissionsList_,
                              repeatList_,  stopButton_};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i) {
        setTabOrder(const_cast<QWidget*>(order[i]), const_cast<QWidget*>(order[i + 1]));
    }
    addressEdit_->setFocus();
}

void CallWindow::ShowForm(const CallForm& form) {
    transmissionsList_->setEnabled(form.transmissionsEnabled);
    bleepList_->SetEntries(BleepEntries());
    bleepList_->SetPosition(form.bleep);
    priorityList_->SetEntries(PriorityEntries());
    priorityList_->SetPosition(form.priority);
    callTypeList_->SetEntries(CallTypeEntries());
    callTypeList_->SetPosition(form.callType);
    transmissionsList_->SetEntries(TransmissionsEntries());
    transmissionsList_->SetPosition(form.transmissions);
    addressEdit_->setText(QString::fromStdString(form.address));
    textEdit_->setText(QString::fromStdString(form.text));
    repeatList_->SetEntries(AutoRepeatEntries());
    repeatList_->SetPosition(form.autoRepeat);
}

CallForm CallWindow::Form() const {
    CallForm form;
    form.address = addressEdit_->text().toStdString();
    form.text = textEdit_->text().toStdString();
    form.bleep = bleepList_->Position();
    form.priority = priorityList_->Position();
    form.callType = callTypeList_->Position();
    form.transmissions = transmissionsList_->Position();
    form.autoRepeat = repeatList_->Position();
    form.transmissionsEnabled = transmissionsList_->isEnabled();
    return form;
}

// Every list takes its typed text; false when one was refused.
bool CallWindow::TakeTypedTexts() {
    bool taken = true;
    for (TypeableCombo* list :
         {bleepList_, callTypeList_, priorityList_, transmissionsList_, repeatList_}) {
        taken = list->TakeTyped() && taken;
    }
    return taken;
}

// The hint names what was refused; the window stays open with the
// field to mend in focus (when one is named).
void CallWindow::Refuse(const QString& hint, QWidget* field) {
    hintLabel_->setText(hint);
    if (field != nullptr) {
        field->setFocus();
    }
    emit Refused();
}

// A refused list or text queues nothing: the operator sees the hint and
// presses Call again.
void CallWindow::CallPressed() {
    if (!TakeTypedTexts()) {
        return;
    }
    const Submitted submitted = PlaceCall(core_, console_, Form());
    if (submitted.id == 0) {
        const QString why = QString::fromStdString(submitted.refusal);
        Refuse(why, why.startsWith("address") ? addressEdit_ : textEdit_);
        return;
    }
    emit RepeatChanged();
    close();
}

void CallWindow::CancelPressed() {
    close();
}

void CallWindow::StopPressed() {
    StopRepeat(console_);
    repeatList_->SetPosition(0);
    emit RepeatChanged();
}

void CallWindow::UpdateStopButton() {
    stopButton_->setEnabled(console_.repeat.active);
}

}  // namespace zelvano
