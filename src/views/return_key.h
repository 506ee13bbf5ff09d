#pragma once

#include <QObject>

namespace sonorel {

// Return and Enter press the focused button, as on Linux desktops (Qt leaves
// that to Space outside dialogs); with focus on nothing that takes Return
// itself, they press the window's default button.
class ReturnPressesButtons final : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace sonorel
