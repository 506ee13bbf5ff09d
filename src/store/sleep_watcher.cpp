#include "store/sleep_watcher.h"

#include <QDBusConnection>

namespace sonorel {

SleepWatcher::SleepWatcher(std::function<void()> onWake, QObject* parent) : QObject(parent), m_onWake(std::move(onWake))
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return;
    // QtDBus connects signals to named slots only. Any sender at logind's path
    // counts: a forged wake could only make the app log it and read again.
    m_listening = bus.connect(QString(), QStringLiteral("/org/freedesktop/login1"),
                              QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"), this,
                              SLOT(prepareForSleep(bool)));
}

void SleepWatcher::prepareForSleep(bool starting)
{
    if (!starting && m_onWake)
        m_onWake();
}

}  // namespace sonorel
