#include "src/texts/notification_center.h"

#include <QtTest>

class tst_NotificationCenter : public QObject
{
    Q_OBJECT

private slots:
    void stopsOnceRemovedOrDestroyed();
};

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
