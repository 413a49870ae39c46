// A drop-down list whose text field the operator can type over. Typed text
// that names an entry, by its whole text or by its code before " = "
// (case and surrounding blanks aside), selects that entry: "2" over the
// priorities is "2 = High", "c" over the bleep codes is "C". Other typed
// text is refused: the list shows again the entry it showed before and
// Refused tells the window, so a guess never turns into another entry.
// The text is taken when the focus leaves the list, except for a button of
// the same window: that button's handler takes it (TakeTyped), so a refusal
// can stop its Call or Save. A locked list keeps its selection and refuses
// typing.
#pragma once

#include <QColor>
#include <QComboBox>
#include <cstdint>
#include <string>
#include <vector>

namespace zelvano {

class TypeableCombo : public QComboBox {
    Q_OBJECT
  public:
    explicit TypeableCombo(QWidget* parent = nullptr);

    // Replaces the entries; the list is left without a selection.
    void SetEntries(const std::vector<std::string>& entries);
    // -1 (or any position outside the list) shows no selection and no text.
    void SetPosition(std::int16_t position);
    // The selected position: the entry typed text names, else the one shown
    // before the typing; -1 only when the list was given no position.
    std::int16_t Position() const;
    // Takes text typed over the field: selects the entry it names, or refuses
    // it (Refused, the entry shown before comes back). False when refused.
    bool TakeTyped();
    // The entry a text names, or -1.
    int NamedEntry(const QString& typed) const;

    void SetLocked(bool locked);
    bool IsLocked() const { return locked_; }
    void SetTextColor(const QColor& color);
    QColor TextColor() const;

    void showPopup() override;

  signals:
    // Typed text named no entry; shown is the entry the list went back to.
    void Refused(const QString& typed, const QString& shown);

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

  private:
    void TakeTypedOnLeaving();
    void ShowSelection();

    bool typedOver_ = false;
    bool locked_ = false;
};

// The windows' hint for a refused text: 'No entry "High"; "3 = Normal" kept'.
QString RefusedEntryHint(const QString& typed, const QString& shown);

}  // namespace zelvano
