// frmInstellingen, "Setup": shows the settings record in a viewing mode and
// changes it in an editing mode; Save writes espa.set and reopens the port.
#pragma once

#include <QWidget>
#include <array>

#include "windows/SettingsForm.h"

class QCheckBox;
class QGroupBox;
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

    void CmdWijzigen_Click();
    void CmdCancel_Click();
    void CmdSave_Click();
    void CmdClose_Click();

  signals:
    // Save: the settings to use from now on.
    void Saved(const zelvano::Settings& settings);

  private:
    void BuildCaptions();
    void BuildCombos();
    void BuildEspaFrame();
    void BuildButtons();
    void Form_Load();
    void SetLocked(bool locked);
    void SetEditing(bool editing);

    const Settings& settings_;
    std::array<TypeableCombo*, kSingleComboCount> single_{};
    std::array<TypeableCombo*, kEspaTransCount> espaTrans_{};
    QCheckBox* chkVariableEspaString_ = nullptr;
    QGroupBox* frameEspaVariable_ = nullptr;
    QPushButton* cmdWijzigen_ = nullptr;
    QPushButton* cmdCancel_ = nullptr;
    QPushButton* cmdSave_ = nullptr;
    QPushButton* cmdClose_ = nullptr;
};

}  // namespace zelvano
