#pragma once

#include "model/diagnostic_check.h"

#include <QFrame>
#include <QWidget>

#include <vector>

class QLabel;
class QPushButton;
class QVBoxLayout;

namespace sonorel {

class DoctorStore;
class HealthDial;

// The dark card at the top of the Overview: status, dial, headline, the
// current output and Quick Fix.
class AudioHealthConsole final : public QFrame {
    Q_OBJECT

public:
    explicit AudioHealthConsole(DoctorStore& store, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void refresh();

    DoctorStore& m_store;
    QLabel* m_dot = nullptr;
    QLabel* m_header = nullptr;
    QLabel* m_counter = nullptr;
    HealthDial* m_dial = nullptr;
    QLabel* m_headline = nullptr;
    QLabel* m_output = nullptr;
    QLabel* m_format = nullptr;
    QPushButton* m_quickFix = nullptr;
    QLabel* m_noteTitle = nullptr;
    QLabel* m_noteDetail = nullptr;
};

// One check: its symbol, title, state, detail and at most one button.
class DiagnosticRow final : public QWidget {
    Q_OBJECT

public:
    DiagnosticRow(DoctorStore& store, DiagnosticCheck check, QWidget* parent = nullptr);

private:
    DoctorStore& m_store;
    DiagnosticCheck m_check;
};

// The first page: the console, the nine checks and the crackle card.
class OverviewView final : public QWidget {
    Q_OBJECT

public:
    explicit OverviewView(DoctorStore& store, QWidget* parent = nullptr);

private:
    void refresh();

    DoctorStore& m_store;
    QLabel* m_checked = nullptr;
    QVBoxLayout* m_rows = nullptr;
    std::vector<DiagnosticCheck> m_shownChecks;
    bool m_shownFixing = false;
};

}  // namespace sonorel
