#pragma once

#include "model/diagnostic_check.h"

#include <QWidget>

#include <vector>

namespace sonorel {

// The ring of nine arcs, one per check, with the health symbol in its centre.
// Assistive technology reads it as one element: "Audio health", "7 of 9 checks good".
class HealthDial final : public QWidget {
    Q_OBJECT

public:
    explicit HealthDial(QWidget* parent = nullptr);
    void show(const std::vector<DiagnosticCheck>& checks, bool fixing);
    QSize sizeHint() const override { return {126, 126}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<DiagnosticCheck> m_checks;
    bool m_fixing = false;
};

}  // namespace sonorel
