#include "views/return_key.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextEdit>

namespace sonorel {

namespace {

// Widgets that give Return a meaning of their own.
bool takesReturn(const QWidget* widget)
{
    return qobject_cast<const QTextEdit*>(widget) || qobject_cast<const QPlainTextEdit*>(widget)
        || qobject_cast<const QComboBox*>(widget) || qobject_cast<const QAbstractItemView*>(widget)
        || qobject_cast<const QLineEdit*>(widget) || qobject_cast<const QAbstractSpinBox*>(widget);
}

QPushButton* defaultButton(QWidget* window)
{
    for (QPushButton* button : window->findChildren<QPushButton*>())
        if (button->isDefault() && button->isVisible() && button->isEnabled())
            return button;
    return nullptr;
}

}  // namespace

bool ReturnPressesButtons::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress)
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if ((key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
        || (key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
        return false;
    QWidget* focus = QApplication::focusWidget();
    // A key event reaches the filter once per object it passes: act on the first.
    if (!focus || watched != focus || qobject_cast<QDialog*>(focus->window()))
        return false;
    if (auto* button = qobject_cast<QAbstractButton*>(focus)) {
        if (!button->isEnabled())
            return false;
        button->animateClick();
        return true;
    }
    if (takesReturn(focus))
        return false;
    if (QPushButton* button = defaultButton(focus->window())) {
        button->animateClick();
        return true;
    }
    return false;
}

}  // namespace sonorel
