#pragma once

#include "views/troubleshoot_topics.h"

#include <QWidget>

#include <optional>
#include <set>

class QComboBox;
class QGroupBox;
class QLabel;
class QVBoxLayout;

namespace sonorel {

class DoctorStore;
class DisclosureButton;
class TopicButton;

// The guided page: a symptom, its Quick Fix, the topic that fits it, and
// every other topic as a closed row with one line of status.
class TroubleshootView final : public QWidget {
    Q_OBJECT

public:
    explicit TroubleshootView(DoctorStore& store, QWidget* parent = nullptr);
    const std::set<TroubleshootTopic>& expanded() const { return m_expanded; }

protected:
    // Leaving the page ends the listening tests it started.
    void hideEvent(QHideEvent* event) override;

private:
    void refresh();
    void rebuildTopics();
    void refreshSummaries();

    DoctorStore& m_store;
    std::set<TroubleshootTopic> m_expanded;
    std::optional<RepairIntent> m_shownIntent;
    QComboBox* m_intent = nullptr;
    QPushButton* m_undo = nullptr;
    TopicButton* m_quickFix = nullptr;
    QLabel* m_status = nullptr;
    QVBoxLayout* m_topics = nullptr;
    QWidget* m_topicsBox = nullptr;
    struct OtherCheck {
        TroubleshootTopic topic;
        QLabel* summary;
        DisclosureButton* toggle;
    };
    std::vector<OtherCheck> m_summaries;
};

}  // namespace sonorel
