// A drop-down list whose text field the operator can type over. Typed text
// that names an entry, by its whole text or by its code before " = "
// (case and surrounding blanks aside), selects that entry: "2" over the
// priorities is "2 = High", "c" over the bleep codes is "C". Other typed
// text leaves no selected position (-1), so the field takes its fallback.
// A locked list keeps its selection and refuses typing.
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
    // The selected position: the entry the typed text names, -1 when none.
    std::int16_t Position() const;
    // The entry a text names, or -1.
    int NamedEntry(const QString& typed) const;

    void SetLocked(bool locked);
    bool IsLocked() const { return locked_; }
    void SetTextColor(const QColor& color);
    QColor TextColor() const;

    void showPopup() override;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

  private:
    void SelectNamedEntry();
    void ShowSelection();

    bool typedOver_ = false;
    bool locked_ = false;
};

}  // namespace zelvano
