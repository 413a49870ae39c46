// frmCall, "Call Window": one pager call is composed here and queued with
// Call. Closing it (Call, Cancel or the close box) unloads it.
#pragma once

#include <QWidget>

#include "windows/CallEntry.h"

class QLabel;
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

    void CallPressed();
    void CancelPressed();
    void StopPressed();
    void UpdateStopButton();

  signals:
    // Call or Stop set or ended the repeat.
    void RepeatChanged();
    // Input was refused (the hint says why): the program beeps.
    void Refused();

  private:
    void BuildControls();
    void SetTabOrder();
    void ShowForm(const CallForm& form);
    bool TakeTypedTexts();
    void Refuse(const QString& hint, QWidget* field);

    PagingCore& core_;
    Console& console_;
    QLineEdit* addressEdit_ = nullptr;
    QLineEdit* textEdit_ = nullptr;
    TypeableCombo* bleepList_ = nullptr;
    TypeableCombo* callTypeList_ = nullptr;
    TypeableCombo* priorityList_ = nullptr;
    TypeableCombo* transmissionsList_ = nullptr;
    TypeableCombo* repeatList_ = nullptr;
    QPushButton* stopButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QPushButton* callButton_ = nullptr;
    QLabel* hintLabel_ = nullptr;
    QTimer* stopButtonTimer_ = nullptr;
};

}  // namespace zelvano
