#include "views/disclosure_button.h"

namespace sonorel {

DisclosureButton::DisclosureButton(const QString& title, QWidget* parent) : QToolButton(parent)
{
    setText(title);
    setAutoRaise(true);
    setFocusPolicy(Qt::StrongFocus);
    setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    setArrowType(Qt::RightArrow);
    setAccessibleDescription(QStringLiteral("Collapsed"));
    connect(this, &QToolButton::clicked, this, [this] { setOpen(!m_open); });
}

void DisclosureButton::setOpen(bool open)
{
    if (open == m_open)
        return;
    m_open = open;
    setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
    setAccessibleDescription(open ? QStringLiteral("Expanded") : QStringLiteral("Collapsed"));
    emit openChanged(open);
}

}  // namespace sonorel
