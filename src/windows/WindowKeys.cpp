#include "windows/WindowKeys.h"

#include <QApplication>
#include <QKeySequence>
#include <QPainter>
#include <QPointer>
#include <QProxyStyle>
#include <QPushButton>
#include <QShortcut>
#include <QStyleOption>
#include <QWidget>

namespace zelvano {

namespace {

// The desktop style, except that a focused push button gets a dotted frame
// in its text colour, whether the focus came by keyboard or mouse: the
// style's own focus frame is the same outline as the default button's.
class FocusMarkStyle : public QProxyStyle {
  public:
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
        QProxyStyle::drawControl(element, option, painter, widget);
        if (element != CE_PushButton || !(option->state & State_HasFocus)) {
            return;
        }
        painter->save();
        painter->setPen(QPen(option->palette.color(QPalette::ButtonText), 1, Qt::DotLine));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(option->rect.adjusted(4, 4, -5, -5));
        painter->restore();
    }
};

QStyle* FocusMark() {
    static QStyle* const style = new FocusMarkStyle;  // lives as long as the program
    return style;
}

void OnKey(QWidget* window, Qt::Key key, std::function<void()> action) {
    auto* shortcut = new QShortcut(QKeySequence(key), window);
    shortcut->setContext(Qt::WindowShortcut);
    QObject::connect(shortcut, &QShortcut::activated, window, std::move(action));
}

}  // namespace

void BindWindowKeys(QWidget* window, QPushButton* defaultButton, std::function<void()> onEscape) {
    const QList<QPushButton*> buttons = window->findChildren<QPushButton*>();
    for (QPushButton* button : buttons) {
        button->setStyle(FocusMark());
    }
    // The default frame follows the focus among the buttons, as in a dialog,
    // and goes back to the default button when the focus leaves them.
    QObject::connect(
        qApp, &QApplication::focusChanged, window,
        [window, buttons, home = QPointer<QPushButton>(defaultButton)](QWidget*, QWidget* now) {
            if (now == nullptr || now->window() != window) {
                return;
            }
            auto* focused = qobject_cast<QPushButton*>(now);
            QPushButton* marked =
                focused != nullptr ? focused : (home && home->isEnabled() ? home.data() : nullptr);
            for (QPushButton* button : buttons) {
                button->setDefault(button == marked);
            }
        });
    const auto pressDefault = [window, home = QPointer<QPushButton>(defaultButton)] {
        auto* focused = qobject_cast<QPushButton*>(window->focusWidget());
        QPushButton* target = focused != nullptr ? focused : home.data();
        if (target != nullptr && target->isEnabled()) {
            target->click();
        }
    };
    OnKey(window, Qt::Key_Return, pressDefault);
    OnKey(window, Qt::Key_Enter, pressDefault);
    OnKey(window, Qt::Key_Escape, std::move(onEscape));
}

}  // namespace zelvano
