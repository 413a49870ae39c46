#include "windows/SettingsWindow.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <algorithm>

#include "windows/QtLook.h"
#include "windows/TypeableCombo.h"
#include "windows/WindowKeys.h"

namespace zelvano {

namespace {

constexpr int kClientWidth = 11160;
constexpr int kClientHeight = 7470;
constexpr const char* kChkCaption = "Variable EspaString";
constexpr const char* kFrameCaption = "Variable EspaString ";
const QColor kLockedText(192, 192, 192);

// The top row: a caption box above each of the first seven lists.
struct TopColumn {
    int left, captionWidth, comboWidth;
    const char* caption;
};
constexpr TopColumn kTopColumns[] = {
    {240, 1695, 1935, "EmulationMode"}, {2280, 975, 975, "ComPort"},
    {3360, 1215, 1215, "BaudRate"},     {4680, 855, 855, "Parity"},
    {5640, 735, 735, "Nr of Bits"},     {6480, 975, 1095, "Nr of StopBits"},
    {7680, 1455, 2535, "HandShake"},
};
constexpr int kTopCount = 7;
constexpr int kLowerTops[] = {1200, 1680, 2160, 2640};  // the four lists below the top row

}  // namespace

SettingsWindow::SettingsWindow(const Settings& settings, QWidget* parent)
    : QWidget(parent, Qt::Window), settings_(settings) {
    setObjectName("frmInstellingen");
    ApplyDesignFont(this);
    setWindowTitle("Setup");
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(TwipsToPixels(kClientWidth, logicalDpiX()),
                 TwipsToPixels(kClientHeight, logicalDpiY()));
    BuildCaptions();
    BuildCombos();
    BuildEspaFrame();
    BuildHint();
    BuildButtons();
    Load();
    if (const QScreen* screen = this->screen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

void SettingsWindow::BuildCaptions() {
    for (int i = 0; i < kTopCount; ++i) {
        // Text boxes used as captions, on the button face.
        auto* box = new QLineEdit(this);
        SetTextFromStart(box, kTopColumns[i].caption);
        box->setObjectName(QString("Text1_%1").arg(i));
        box->setReadOnly(true);
        box->setFocusPolicy(Qt::NoFocus);
        QPalette palette = box->palette();
        palette.setColor(QPalette::Base, QApplication::palette().color(QPalette::Button));
        box->setPalette(palette);
        PlaceTwips(box, kTopColumns[i].left, 240, kTopColumns[i].captionWidth, 285);
        FitFontToWidth(box, box->text(), box->width() - 8);
    }
}

void SettingsWindow::BuildCombos() {
    const auto& combos = SingleCombos();
    for (int i = 0; i < kSingleComboCount; ++i) {
        auto* combo = new TypeableCombo(this);
        combo->setObjectName(combos[i].name);
        if (i < kTopCount) {
            PlaceTwips(combo, kTopColumns[i].left, 600, kTopColumns[i].comboWidth, 315);
        } else {
            PlaceTwips(combo, 240, kLowerTops[i - kTopCount], 3855, 315);
        }
        single_[i] = combo;
    }
    variableBlockBox_ = new QCheckBox(kChkCaption, this);
    variableBlockBox_->setObjectName("ChkVariableEspaString");
    PlaceTwips(variableBlockBox_, 240, 3240, 5895, 255);
}

void SettingsWindow::BuildEspaFrame() {
    blockFrame_ = new QGroupBox(kFrameCaption, this);
    blockFrame_->setObjectName("FrameEspaVariable");
    PlaceTwips(blockFrame_, 240, 3600, 5895, 3255);
    const char* labels[] = {"First Item in EspaString", "Last Item in EspaString"};
    const int labelTops[] = {360, 2760};
    for (int i = 0; i < 2; ++i) {
        auto* label = new QLabel(labels[i], blockFrame_);
        label->setObjectName(QString("Label2_%1").arg(i));
        PlaceTwips(label, 240, labelTops[i], 1815, 255);
        FitFontToWidth(label, label->text(), label->width());
    }
    for (int i = 0; i < kBlockFieldCount; ++i) {
        auto* combo = new TypeableCombo(blockFrame_);
        combo->setObjectName(QString("ComboEspaTrans_%1").arg(i));
        PlaceTwips(combo, 2880, 360 + 480 * i, 2655, 315);
        blockFieldLists_[i] = combo;
    }
}

void SettingsWindow::BuildButtons() {
    struct Def {
        QPushButton** button;
        const char* name;
        const char* caption;
        int left, top;
        void (SettingsWindow::*handler)();
    };
    const Def defs[] = {
        {&changeButton_, "CmdWijzigen", "Change", 8520, 6000, &SettingsWindow::ChangePressed},
        {&cancelButton_, "CmdCancel", "Cancel", 7080, 6000, &SettingsWindow::CancelPressed},
        {&saveButton_, "CmdSave", "Save", 7080, 6600, &SettingsWindow::SavePressed},
        {&closeButton_, "CmdClose", "Close", 8520, 6600, &SettingsWindow::ClosePressed},
    };
    for (const Def& def : defs) {
        auto* button = new QPushButton(def.caption, this);
        button->setObjectName(def.name);
        PlaceTwips(button, def.left, def.top, 1095, 375);
        connect(button, &QPushButton::clicked, this, def.handler);
        *def.button = button;
    }
    SetEditing(false);
    // Return presses the focused button, else Save while editing. Escape is
    // Cancel while editing (the changes are dropped, the window stays) and
    // Close while viewing.
    BindWindowKeys(this, saveButton_, [this] {
        (cancelButton_->isEnabled() ? cancelButton_ : closeButton_)->click();
    });
}

// Why typed text was refused, right of the Variable EspaString frame.
void SettingsWindow::BuildHint() {
    hintLabel_ = MakeHintLabel(this, 6360, 3600, 4560, 600);
    for (TypeableCombo* list : findChildren<TypeableCombo*>()) {
        connect(list, &TypeableCombo::Refused, this,
                [this](const QString& typed, const QString& shown) {
                    hintLabel_->setText(RefusedEntryHint(typed, shown));
                    emit Refused();
                });
    }
}

void SettingsWindow::Load() {
    variableBlockBox_->setVisible(true);
    blockFrame_->setVisible(true);
    LockCombo();
    const auto& combos = SingleCombos();
    for (int i = 0; i < kSingleComboCount; ++i) {
        single_[i]->SetEntries(combos[i].entries);
    }
    for (TypeableCombo* combo : blockFieldLists_) {
        combo->SetEntries(BlockFieldEntries());
    }
    UpdateCombo();
}

void SettingsWindow::SetLocked(bool locked) {
    const QColor text = locked ? kLockedText : QApplication::palette().color(QPalette::WindowText);
    auto apply = [&](TypeableCombo* combo) {
        combo->SetLocked(locked);
        combo->SetTextColor(text);
    };
    std::for_each(single_.begin(), single_.end(), apply);
    std::for_each(blockFieldLists_.begin(), blockFieldLists_.end(), apply);
    variableBlockBox_->setEnabled(!locked);
    variableBlockBox_->setText(kChkCaption);
    blockFrame_->setTitle(kFrameCaption);
}

void SettingsWindow::SetEditing(bool editing) {
    cancelButton_->setEnabled(editing);
    saveButton_->setEnabled(editing);
    closeButton_->setEnabled(!editing);
    changeButton_->setEnabled(!editing);
    if (!editing) {
        saveButton_->setDefault(false);  // the default only while editing
    }
    hintLabel_->clear();
}

// Every list takes its typed text; false when one was refused.
bool SettingsWindow::TakeTypedTexts() {
    bool taken = true;
    for (TypeableCombo* list : findChildren<TypeableCombo*>()) {
        taken = list->TakeTyped() && taken;
    }
    return taken;
}

void SettingsWindow::LockCombo() {
    SetLocked(true);
}

void SettingsWindow::UnlockCombo() {
    SetLocked(false);
}

void SettingsWindow::UpdateCombo() {
    const SettingsSelection selection = zelvano::UpdateCombo(settings_);
    for (int i = 0; i < kSingleComboCount; ++i) {
        single_[i]->SetPosition(selection.single[i]);
    }
    for (int i = 0; i < kBlockFieldCount; ++i) {
        blockFieldLists_[i]->SetPosition(selection.blockFields[i]);
    }
    variableBlockBox_->setChecked(selection.variableBlock);
}

SettingsSelection SettingsWindow::Selection() const {
    SettingsSelection selection;
    for (int i = 0; i < kSingleComboCount; ++i) {
        selection.single[i] = single_[i]->Position();
    }
    for (int i = 0; i < kBlockFieldCount; ++i) {
        selection.blockFields[i] = blockFieldLists_[i]->Position();
    }
    selection.variableBlock = variableBlockBox_->isChecked();
    return selection;
}

Settings SettingsWindow::ComboToSettings() const {
    return zelvano::ComboToSettings(Selection());
}

// Editing starts in the first list, with Save as the default button.
void SettingsWindow::ChangePressed() {
    SetEditing(true);
    UnlockCombo();
    single_[0]->setFocus(Qt::TabFocusReason);
}

void SettingsWindow::CancelPressed() {
    SetEditing(false);
    LockCombo();
    UpdateCombo();
}

// A refused list keeps the window editing: nothing is saved.
void SettingsWindow::SavePressed() {
    if (!TakeTypedTexts()) {
        return;
    }
    SetEditing(false);
    LockCombo();
    emit Saved(ComboToSettings());
}

void SettingsWindow::ClosePressed() {
    close();
}

}  // namespace zelvano
