#include "store/sleep_watcher.h"

#include <QDBusConnection>

namespace sonorel {

SleepWatcher::SleepWatcher(std::function<void()> onWake, QObject* parent)
    : QObject(parent), m_onWake(std::move(onWake)),
      m_busName(QStringLiteral("sonorel-wake-%1").arg(reinterpret_cast<quintptr>(this), 0, 16))
{
    // A connection of its own to the address as it is now (libdbus keeps the
    // first system bus address it saw for the life of the process).
    const QString address = qEnvironmentVariable("DBUS_SYSTEM_BUS_ADDRESS",
                                                 QStringLiteral("unix:path=/run/dbus/system_bus_socket"));
    QDBusConnection bus = QDBusConnection::connectToBus(address, m_busName);
    if (!bus.isConnected())
        return;
    // QtDBus connects signals to named slots only. Any sender at logind's path
    // counts: a forged wake could only make the app log it and read again.
    m_listening = bus.connect(QString(), QStringLiteral("/org/freedesktop/login1"),
                              QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"), this,
                              SLOT(prepareForSleep(bool)));
}

SleepWatcher::~SleepWatcher()
{
    QDBusConnection::disconnectFromBus(m_busName);
}

void SleepWatcher::prepareForSleep(bool starting)
{
    if (!starting && m_onWake)
        m_onWake();
}

}  // namespace sonorel
