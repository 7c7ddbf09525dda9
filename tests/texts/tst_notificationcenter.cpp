#include "notification_center.h"

#include <QtTest>

class tst_NotificationCenter : public QObject
{
    Q_OBJECT

private slots:
    void deliversByNameAndSender();
    void stopsOnceRemovedOrDestroyed();
};

void tst_NotificationCenter::deliversByNameAndSender()
{
    NotificationCenter center;
    QObject observer, sender, otherSender;
    QStringList seen;

    center.addObserver(&observer, "Ready", [&](const Notification &n) {
        seen << "any:" + n.userInfo.value("k").toString();
    });
    center.addObserver(
        &observer, "Ready", [&](const Notification &) { seen << "mine"; }, &sender);

    center.postNotificationName("Ready", &otherSender, {{"k", "1"}});
    center.postNotificationName("Ready", &sender, {{"k", "2"}});
    center.postNotificationName("Other", &sender);

    QCOMPARE(seen, QStringList({"any:1", "any:2", "mine"}));
}

// Includes removal by an earlier handler of the same post: a handler that
// tears down another window must not have that window called a moment later.
void tst_NotificationCenter::stopsOnceRemovedOrDestroyed()
{
    NotificationCenter center;
    QObject remover, removed;
    auto destroyed = std::make_unique<QObject>();
    int calls = 0;
    center.addObserver(&remover, "Ready", [&](const Notification &) { center.removeObserver(&removed); });
    center.addObserver(&removed, "Ready", [&](const Notification &) { ++calls; });
    center.addObserver(destroyed.get(), "Ready", [&](const Notification &) { ++calls; });

    destroyed.reset();
    center.postNotificationName("Ready", nullptr);

    QCOMPARE(calls, 0);
}

QTEST_GUILESS_MAIN(tst_NotificationCenter)
#include "tst_notificationcenter.moc"
