#pragma once

#include <QToolButton>

namespace sonorel {

// The arrow that opens and closes a section. A plain button rather than a
// toggle, so that a screen reader announces a button and says whether the
// section is open.
class DisclosureButton final : public QToolButton {
    Q_OBJECT

public:
    explicit DisclosureButton(const QString& title, QWidget* parent = nullptr);
    bool isOpen() const { return m_open; }
    void setOpen(bool open);

signals:
    void openChanged(bool open);

private:
    bool m_open = false;
};

}  // namespace sonorel
