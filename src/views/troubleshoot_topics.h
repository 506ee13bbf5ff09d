#pragma once

#include "model/audio_direction.h"
#include "model/audio_snapshot.h"
#include "model/diagnostic_check.h"
#include "model/enum_text.h"
#include "model/repair_action.h"

#include <QLabel>
#include <QPushButton>
#include <QWidget>

#include <optional>
#include <string>

class QVBoxLayout;

namespace sonorel {

class DisclosureButton;
class DoctorStore;

enum class TroubleshootTopic { output, audioUsers, bluetooth, microphone, stereo, alerts, afterWake, compare };

inline constexpr EnumTexts<TroubleshootTopic, 8> troubleshootTopicNames{{
    {TroubleshootTopic::output, "output"},
    {TroubleshootTopic::audioUsers, "audioUsers"},
    {TroubleshootTopic::bluetooth, "bluetooth"},
    {TroubleshootTopic::microphone, "microphone"},
    {TroubleshootTopic::stereo, "stereo"},
    {TroubleshootTopic::alerts, "alerts"},
    {TroubleshootTopic::afterWake, "afterWake"},
    {TroubleshootTopic::compare, "compare"},
}};

inline constexpr EnumTexts<TroubleshootTopic, 8> troubleshootTopicTitles{{
    {TroubleshootTopic::output, "Sound output"},
    {TroubleshootTopic::audioUsers, "Audio users"},
    {TroubleshootTopic::bluetooth, "Bluetooth headphones"},
    {TroubleshootTopic::microphone, "Microphone"},
    {TroubleshootTopic::stereo, "One-sided sound"},
    {TroubleshootTopic::alerts, "Alerts and notifications"},
    {TroubleshootTopic::afterWake, "After sleep or a dock reconnect"},
    {TroubleshootTopic::compare, "Compare an app with Doctor"},
}};

// The topic that fits a symptom: symptoms and topics share their order.
TroubleshootTopic focusTopic(RepairIntent intent);

// "Balance: centered" or "Balance: 50% toward the left"; none when the
// device reports no balance or one that is not a number.
std::optional<std::string> balanceText(std::optional<float> balance);

// "Volume: 50% · Unmuted", "Channel 2: Level unavailable · Mute unavailable".
std::string channelRowText(const AudioChannelState& channel, AudioDirection side);

// The one line under a topic's title in the "Other checks" list.
std::string topicSummary(TroubleshootTopic topic, const DoctorStore& store);

// A topic's action: prominent ones take the primary style, dimmed when disabled.
class TopicButton final : public QPushButton {
    Q_OBJECT

public:
    TopicButton(const QString& title, const char* identifier, QWidget* parent = nullptr);
    void setProminent(bool prominent);
    bool isProminent() const { return m_prominent; }

private:
    bool m_prominent = false;
};

// "More about this", closed until opened.
class MoreAbout final : public QWidget {
    Q_OBJECT

public:
    explicit MoreAbout(QWidget* parent = nullptr);
    void setText(const QString& text);

private:
    DisclosureButton* m_toggle = nullptr;
    QLabel* m_text = nullptr;
};

// The detail of the latest check of one kind, or "Check again.".
class CheckDetail final : public QLabel {
    Q_OBJECT

public:
    CheckDetail(CheckKind kind, QWidget* parent = nullptr);
    void refresh(const DoctorStore& store);

private:
    CheckKind m_kind;
};

// One topic's advice and buttons, kept current from the store.
class TroubleshootTopicContent final : public QWidget {
    Q_OBJECT

public:
    TroubleshootTopicContent(DoctorStore& store, TroubleshootTopic topic, bool emphasized, QWidget* parent = nullptr);
};

}  // namespace sonorel
