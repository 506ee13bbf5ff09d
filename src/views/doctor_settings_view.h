#pragma once

#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;

namespace sonorel {

class DoctorStore;

// The Settings window: monitoring, launch at login, the remembered output,
// the privacy note and the report.
class DoctorSettingsView final : public QWidget {
    Q_OBJECT

public:
    explicit DoctorSettingsView(DoctorStore& store, QWidget* parent = nullptr);

private:
    QWidget* buildDiagnostics();
    QWidget* buildRememberedOutput();
    QWidget* buildClosing();
    void choosePreferred(int index);
    void refreshPreferences();
    void refreshOutputs();

    DoctorStore& m_store;
    QCheckBox* m_monitor = nullptr;
    QCheckBox* m_login = nullptr;
    QComboBox* m_preferred = nullptr;
    QLabel* m_entryCount = nullptr;
};

}  // namespace sonorel
