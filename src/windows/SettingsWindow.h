// frmInstellingen, "Setup": shows the settings record in a viewing mode and
// changes it in an editing mode; Save writes espa.set and reopens the port.
#pragma once

#include <QWidget>
#include <array>

#include "windows/SettingsForm.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;

namespace zelvano {

class TypeableCombo;

class SettingsWindow : public QWidget {
    Q_OBJECT
  public:
    SettingsWindow(const Settings& settings, QWidget* parent = nullptr);

    void LockCombo();
    void UnlockCombo();
    void UpdateCombo();
    // The record the lists and the tick box stand for now.
    Settings ComboToSettings() const;
    SettingsSelection Selection() const;

    void ChangePressed();
    void CancelPressed();
    void SavePressed();
    void ClosePressed();

  signals:
    // Save: the settings to use from now on.
    void Saved(const zelvano::Settings& settings);
    // Typed text was refused (the hint says why): the program beeps.
    void Refused();

  private:
    void BuildCaptions();
    void BuildCombos();
    void BuildEspaFrame();
    void BuildButtons();
    void Load();
    void SetLocked(bool locked);
    void SetEditing(bool editing);
    void BuildHint();
    bool TakeTypedTexts();

    const Settings& settings_;
    std::array<TypeableCombo*, kSingleComboCount> single_{};
    std::array<TypeableCombo*, kBlockFieldCount> blockFieldLists_{};
    QCheckBox* variableBlockBox_ = nullptr;
    QGroupBox* blockFrame_ = nullptr;
    QPushButton* changeButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QPushButton* saveButton_ = nullptr;
    QPushButton* closeButton_ = nullptr;
    QLabel* hintLabel_ = nullptr;
};

}  // namespace zelvano
