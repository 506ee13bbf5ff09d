#pragma once

#include <QObject>

#include <functional>

namespace sonorel {

// Reports each wake from sleep, as logind announces it on the system bus
// (PrepareForSleep(false)). Without a system bus it reports nothing and says
// nothing: a container or a bare session simply has no wakes to report.
class SleepWatcher final : public QObject {
    Q_OBJECT

public:
    explicit SleepWatcher(std::function<void()> onWake, QObject* parent = nullptr);
    ~SleepWatcher() override;
    bool isListening() const { return m_listening; }

private slots:
    void prepareForSleep(bool starting);

private:
    std::function<void()> m_onWake;
    QString m_busName;
    bool m_listening = false;
};

}  // namespace sonorel
