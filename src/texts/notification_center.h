// A process-wide board of named notifications, so that the window can wait
// for "the language table is ready" without knowing which object delivers it.
//
// Main thread only: observers are called at once, in the order they
// registered, on the thread that posts, and nearly all of them touch widgets.
// Work on another thread hands its notification to the main thread first
// (ParseOperation does).
#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantMap>

#include <functional>

struct Notification
{
    QString name;
    QObject *object = nullptr;  // the sender; not owned
    QVariantMap userInfo;
};

class NotificationCenter
{
public:
    using Handler = std::function<void(const Notification &)>;

    // The one centre of the process.
    static NotificationCenter &defaultCenter();

    NotificationCenter() = default;
    NotificationCenter(const NotificationCenter &) = delete;
    NotificationCenter &operator=(const NotificationCenter &) = delete;

    // Calls `handler` for every notification called `name` from `sender`, or
    // from any sender when `sender` is null. The registration ends with
    // removeObserver or when `observer` is destroyed, whichever comes first.
    void addObserver(QObject *observer, const QString &name, Handler handler,
                     const QObject *sender = nullptr);

    // Ends every registration of `observer`.
    void removeObserver(const QObject *observer);

    // Calls every matching observer before it returns.
    void postNotification(const Notification &notification);
    void postNotificationName(const QString &name, QObject *object,
                              const QVariantMap &userInfo = {});

private:
    struct Registration
    {
        quint64 id;
        QPointer<QObject> observer;
        QString name;
        QPointer<const QObject> sender;  // watched so a dead sender matches nothing
        bool anySender = true;
        Handler handler;
    };

    QList<Registration> registrations;
    quint64 nextId = 1;
};
