#include "notification_center.h"

#include <QtTest>

class tst_NotificationCenter : public QObject
{
    Q_OBJECT

private slots:
    void deliversByNameAndSender();
    void stopsAfterRemovalOrDestruction();
    void observerRemovedDuringPostIsNotCalled();
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

void tst_NotificationCenter::stopsAfterRemovalOrDestruction()
{
    NotificationCenter center;
    int removedCalls = 0;
    int destroyedCalls = 0;
    QObject removed;
    auto destroyed = std::make_unique<QObject>();
    center.addObserver(&removed, "Ready", [&](const Notification &) { ++removedCalls; });
    center.addObserver(destroyed.get(), "Ready", [&](const Notification &) { ++destroyedCalls; });

    center.removeObserver(&removed);
    destroyed.reset();
    center.postNotificationName("Ready", nullptr);

    QCOMPARE(removedCalls, 0);
    QCOMPARE(destroyedCalls, 0);
}

// A handler that tears down another window must not have that window called
// a moment later with a dangling this.
void tst_NotificationCenter::observerRemovedDuringPostIsNotCalled()
{
    NotificationCenter center;
    QObject first, second;
    int secondCalls = 0;
    center.addObserver(&first, "Ready", [&](const Notification &) { center.removeObserver(&second); });
    center.addObserver(&second, "Ready", [&](const Notification &) { ++secondCalls; });

    center.postNotificationName("Ready", nullptr);

    QCOMPARE(secondCalls, 0);
}

QTEST_GUILESS_MAIN(tst_NotificationCenter)
#include "tst_notificationcenter.moc"
