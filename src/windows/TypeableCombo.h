// A drop-down list whose text field the operator can type over. Only the
// selected position counts: once the text is typed over there is none (-1).
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
    // The selected position, -1 when none or when the text was typed over.
    std::int16_t Position() const;

    void SetLocked(bool locked);
    bool IsLocked() const { return locked_; }
    void SetTextColor(const QColor& color);
    QColor TextColor() const;

    void showPopup() override;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

  private:
    bool typedOver_ = false;
    bool locked_ = false;
};

}  // namespace zelvano
