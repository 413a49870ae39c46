#include "windows/TypeableCombo.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QWheelEvent>

namespace zelvano {

QString RefusedEntryHint(const QString& typed, const QString& shown) {
    const QString refused = QString("No entry \"%1\"").arg(typed.trimmed());
    return shown.isEmpty() ? refused : refused + QString("; \"%1\" kept").arg(shown);
}

TypeableCombo::TypeableCombo(QWidget* parent) : QComboBox(parent) {
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);  // typed text never becomes an entry
    setCompleter(nullptr);                 // nor is it completed into one
    connect(lineEdit(), &QLineEdit::textEdited, this, [this] { typedOver_ = true; });
    connect(this, qOverload<int>(&QComboBox::activated), this, [this] { typedOver_ = false; });
    connect(lineEdit(), &QLineEdit::editingFinished, this, &TypeableCombo::TakeTypedOnLeaving);
}

int TypeableCombo::NamedEntry(const QString& typed) const {
    const QString text = typed.trimmed();
    if (text.isEmpty()) {
        return -1;
    }
    const auto same = [&text](const QString& name) {
        return name.trimmed().compare(text, Qt::CaseInsensitive) == 0;
    };
    for (int i = 0; i < count(); ++i) {
        if (same(itemText(i))) {
            return i;
        }
    }
    for (int i = 0; i < count(); ++i) {
        const int code = itemText(i).indexOf(" = ");
        if (code > 0 && same(itemText(i).left(code))) {
            return i;
        }
    }
    return -1;
}

// The focus moved on: the typed text is taken now, unless a button of this
// window got the focus (its handler takes the text and may stop its action).
void TypeableCombo::TakeTypedOnLeaving() {
    const QWidget* next = QApplication::focusWidget();
    if (qobject_cast<const QPushButton*>(next) == nullptr || next->window() != window()) {
        TakeTyped();
    }
}

bool TypeableCombo::TakeTyped() {
    if (!typedOver_) {
        return true;
    }
    const QString typed = lineEdit()->text();
    const int entry = NamedEntry(typed);
    const int shown = entry >= 0 ? entry : currentIndex();
    SetPosition(static_cast<std::int16_t>(shown));
    setEditText(shown >= 0 ? itemText(shown) : QString());
    if (entry < 0) {
        emit Refused(typed, currentText());
    }
    return entry >= 0;
}

void TypeableCombo::SetEntries(const std::vector<std::string>& entries) {
    clear();
    for (const std::string& entry : entries) {
        addItem(QString::fromStdString(entry));
    }
    SetPosition(-1);
}

void TypeableCombo::SetPosition(std::int16_t position) {
    typedOver_ = false;
    setCurrentIndex(position >= 0 && position < count() ? position : -1);
}

std::int16_t TypeableCombo::Position() const {
    const int named = typedOver_ ? NamedEntry(lineEdit()->text()) : -1;
    return static_cast<std::int16_t>(named >= 0 ? named : currentIndex());
}

void TypeableCombo::SetLocked(bool locked) {
    locked_ = locked;
    lineEdit()->setReadOnly(locked);
    ShowSelection();
}

void TypeableCombo::SetTextColor(const QColor& color) {
    for (QWidget* widget : {static_cast<QWidget*>(this), static_cast<QWidget*>(lineEdit())}) {
        QPalette palette = widget->palette();
        palette.setColor(QPalette::Text, color);
        palette.setColor(QPalette::ButtonText, color);
        widget->setPalette(palette);
    }
    ShowSelection();
}

// A locked list stays grey when it has the focus: its selected text is drawn
// like the rest (no white on the highlight colour). The combo's own focus
// frame still shows where the focus is.
void TypeableCombo::ShowSelection() {
    QLineEdit* field = lineEdit();
    QPalette palette = field->palette();
    const QPalette normal = QApplication::palette(field);
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::Highlight,
                         locked_ ? palette.color(group, QPalette::Base)
                                 : normal.color(group, QPalette::Highlight));
        palette.setColor(group, QPalette::HighlightedText,
                         locked_ ? palette.color(group, QPalette::Text)
                                 : normal.color(group, QPalette::HighlightedText));
    }
    field->setPalette(palette);
}

QColor TypeableCombo::TextColor() const {
    return lineEdit()->palette().color(QPalette::Text);
}

void TypeableCombo::showPopup() {
    if (!locked_) {
        QComboBox::showPopup();
    }
}

void TypeableCombo::keyPressEvent(QKeyEvent* event) {
    const bool moves = event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab;
    if (locked_ && !moves) {
        event->ignore();  // no change of selection while locked
        return;
    }
    QComboBox::keyPressEvent(event);
}

void TypeableCombo::wheelEvent(QWheelEvent* event) {
    if (locked_) {
        event->ignore();
        return;
    }
    QComboBox::wheelEvent(event);
}

}  // namespace zelvano
