#pragma once

#include "model/uuid.h"

#include <QWidget>

#include <vector>

class QMessageBox;
class QPushButton;
class QVBoxLayout;

namespace sonorel {

class DoctorStore;

// The activity log, newest first, with the crackle marker, the report and
// clearing behind a confirmation.
class ActivityView final : public QWidget {
    Q_OBJECT

public:
    explicit ActivityView(DoctorStore& store, QWidget* parent = nullptr);
    // The clear confirmation is showing.
    bool confirmClear() const { return m_confirmClear; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* buildButtons();
    void askToClear();
    void refreshEntries();
    void refreshCopied();

    DoctorStore& m_store;
    bool m_confirmClear = false;
    bool m_stale = true;  // the rows wait for the page to show
    QPushButton* m_copy = nullptr;
    QVBoxLayout* m_entries = nullptr;
    std::vector<Uuid> m_shownIds;  // the rows' entries, newest first
};

}  // namespace sonorel
