// frmCall, "Call Window": one pager call is composed here and queued with
// Call. Closing it (Call, Cancel or the close box) unloads it.
#pragma once

#include <QWidget>

#include "windows/CallEntry.h"

class QLineEdit;
class QPushButton;
class QTimer;

namespace zelvano {

class TypeableCombo;

class CallWindow : public QWidget {
    Q_OBJECT
  public:
    CallWindow(PagingCore& core, Console& console, QWidget* parent = nullptr);

    // What the controls hold now.
    CallForm Form() const;

    void CmdCall_Click();
    void CmdCancel_Click();
    void CmdStopAutoCall_Click();
    void Timer1_Timer();

  signals:
    // Call or Stop set or ended the repeat.
    void RepeatChanged();

  private:
    void BuildControls();
    void SetTabOrder();
    void ShowForm(const CallForm& form);

    PagingCore& core_;
    Console& console_;
    QLineEdit* textAdres_ = nullptr;
    QLineEdit* textAlfa_ = nullptr;
    TypeableCombo* comboBleep_ = nullptr;
    TypeableCombo* comboCallType_ = nullptr;
    TypeableCombo* comboPrio_ = nullptr;
    TypeableCombo* comboNrOfTx_ = nullptr;
    TypeableCombo* comboAutoRepeatTime_ = nullptr;
    QPushButton* cmdStopAutoCall_ = nullptr;
    QPushButton* cmdCancel_ = nullptr;
    QPushButton* cmdCall_ = nullptr;
    QTimer* timer1_ = nullptr;
};

}  // namespace zelvano
