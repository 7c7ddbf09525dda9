#include "notification_center.h"

#include <QCoreApplication>
#include <QThread>

#include <algorithm>

NotificationCenter &NotificationCenter::defaultCenter()
{
    static NotificationCenter center;
    return center;
}

void NotificationCenter::addObserver(QObject *observer, const QString &name, Handler handler,
                                     const QObject *sender)
{
    Q_ASSERT(observer && handler);
    registrations.append({nextId++, observer, name, sender, sender == nullptr, std::move(handler)});
}

void NotificationCenter::removeObserver(const QObject *observer)
{
    registrations.removeIf([observer](const Registration &r) {
        return r.observer.isNull() || r.observer == observer;
    });
}

void NotificationCenter::postNotification(const Notification &notification)
{
    Q_ASSERT(!QCoreApplication::instance()
             || QThread::currentThread() == QCoreApplication::instance()->thread());

    // Work on a copy: a handler may register or remove observers, itself included.
    const QList<Registration> current = registrations;
    for (const Registration &r : current) {
        if (r.observer.isNull() || r.name != notification.name)
            continue;
        if (!r.anySender && (r.sender.isNull() || r.sender != notification.object))
            continue;
        // Skip observers removed by an earlier handler of this same post.
        const bool stillRegistered = std::any_of(
            registrations.cbegin(), registrations.cend(),
            [&r](const Registration &live) { return live.id == r.id; });
        if (stillRegistered)
            r.handler(notification);
    }
    registrations.removeIf([](const Registration &r) { return r.observer.isNull(); });
}

void NotificationCenter::postNotificationName(const QString &name, QObject *object,
                                              const QVariantMap &userInfo)
{
    postNotification({name, object, userInfo});
}
