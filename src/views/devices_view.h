#pragma once

#include "model/audio_snapshot.h"
#include "model/preferred_output.h"

#include <QWidget>

#include <optional>
#include <set>
#include <string>
#include <vector>

class QFrame;
class QLabel;
class QPushButton;
class QVBoxLayout;

namespace sonorel {

class DoctorStore;

// A device's buffer, latency budget, rates, formats, controls and exclusive
// owner, as reported by the sound server at the store's latest reading.
class DeviceDetailsView final : public QWidget {
    Q_OBJECT

public:
    DeviceDetailsView(DoctorStore& store, const AudioDevice& device, QWidget* parent = nullptr);
};

// Where sound plays and which microphone is used: the test tone, the
// preferred output, every output and input with its details.
class DevicesView final : public QWidget {
    Q_OBJECT

public:
    explicit DevicesView(DoctorStore& store, QWidget* parent = nullptr);

private:
    // What the device rows show; they are rebuilt only when it changes, so a
    // reading that changes nothing leaves focus where it is.
    struct Shown {
        std::vector<AudioDevice> devices;
        std::vector<AudioClient> clients;
        std::optional<AudioObjectID> outputID;
        std::optional<AudioObjectID> inputID;
        bool inputActive = false;
        int recentOverloads = 0;
        bool fixing = false;
        std::optional<PreferredOutput> preferred;
        bool operator==(const Shown&) const = default;
    };

    QWidget* buildToneRow();
    QFrame* buildBanner();
    QWidget* buildTools();
    QWidget* deviceRow(const AudioDevice& device, AudioDirection side);
    QWidget* rowTrailer(const AudioDevice& device, AudioDirection side, QWidget* row);
    QWidget* disclosure(const AudioDevice& device, QWidget* row);
    void refresh();
    void refreshTone();
    void refreshBanner();
    void refreshDevices();
    void orderTabs();
    void fillSection(QVBoxLayout* section, AudioDirection side, const QString& emptyText);

    DoctorStore& m_store;
    std::set<std::string> m_expandedDetails;
    QLabel* m_toneOutput = nullptr;
    QPushButton* m_tone = nullptr;
    QFrame* m_banner = nullptr;
    QLabel* m_bannerTitle = nullptr;
    QPushButton* m_bannerBluetooth = nullptr;
    QPushButton* m_bannerClear = nullptr;
    QWidget* m_firstTool = nullptr;
    QVBoxLayout* m_outputs = nullptr;
    QVBoxLayout* m_inputs = nullptr;
    QWidget* m_inputBadge = nullptr;
    std::optional<Shown> m_shown;
};

}  // namespace sonorel
