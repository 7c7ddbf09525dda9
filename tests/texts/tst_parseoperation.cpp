#include "src/texts/notification_center.h"
#include "src/texts/parse_operation.h"

#include <QThread>
#include <QThreadPool>
#include <QtTest>

namespace {

// Collects what one operation announces, and on which thread.
struct Outcome
{
    QList<Notification> completions;
    QList<Notification> errors;
    QList<QThread *> threads;

    void observe(QObject *observer, ParseOperation *operation)
    {
        for (const QString &name : {kAddEarthquakesNotif, kEarthquakeErrorNotif}) {
            auto *list = name == kAddEarthquakesNotif ? &completions : &errors;
            NotificationCenter::defaultCenter().addObserver(
                observer, name,
                [this, list](const Notification &n) {
                    *list << n;
                    threads << QThread::currentThread();
                },
                operation);
        }
    }
};

// The whole parse on a pool thread. Once the pool is done every announcement
// is queued, so sending the posted events is the exact handoff.
Outcome parseToEnd(const QByteArray &xml, LanguageTable *table)
{
    Outcome outcome;
    QObject observer;
    ParseOperation operation(xml);
    outcome.observe(&observer, &operation);
    QThreadPool pool;
    pool.start(&operation);
    pool.waitForDone();
    QCoreApplication::sendPostedEvents(&operation);
    *table = operation.currentParseBatchDic();
    return outcome;
}

// "key=String|Font|Color|Size|Offset" for every entry, without the empty
// members at the end, sorted: whole tables compare in one line.
QStringList describe(const LanguageTable &table)
{
    QStringList lines;
    for (auto it = table.cbegin(); it != table.cend(); ++it) {
        QStringList members = {it->String, it->Font, it->FontColor, it->FontSize, it->FontOffset};
        while (members.size() > 1 && members.constLast().isEmpty())
            members.removeLast();
        lines << it.key() + '=' + members.join('|');
    }
    lines.sort();
    return lines;
}

QByteArray node(const char *key, const char *text)
{
    return QByteArray("<NODE><KEY KeyString=\"") + key + "\" String=\"" + text + "\"/></NODE>";
}

}  // namespace

class tst_ParseOperation : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void announcesOnTheMainThread();
};

void tst_ParseOperation::parse_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<bool>("completes");
    QTest::addColumn<bool>("fails");
    QTest::addColumn<QStringList>("table");

    const QByteArray a = node("A", "a1");
    const QByteArray b = node("B", "b");
    const QByteArray strayKey = "<KEY KeyString=\"Z\" String=\"stray\"/>";

    QTest::newRow("later node with the same key wins")
        << "<LanguageCFG>" + a + b + node("A", "a2") + "</LanguageCFG>" << true << false
        << QStringList{"A=a2", "B=b"};
    QTest::newRow("a second key overwrites every member, absent ones too")
        << QByteArray("<LanguageCFG><NODE><KEY KeyString=\"Old\" String=\"s\" Font=\"f\" Color=\"c\" Size=\"12.5\" Offset=\"o\"/>"
           "<KEY KeyString=\"New\" String=\"s2\" Size=\"abc\"/></NODE>"
           "<NODE><KEY KeyString=\"Full\" String=\"s\" Font=\"f\" Color=\"c\" Size=\"12.5\" Offset=\"o\"/></NODE>"
           "</LanguageCFG>")
        << true << false << QStringList{"Full=s|f|c|12.5|o", "New=s2|||abc"};
    QTest::newRow("key outside a node is ignored")
        << "<LanguageCFG>" + strayKey + a + strayKey + b + "</LanguageCFG>" << true << false
        << QStringList{"A=a1", "B=b"};
    QTest::newRow("node without a key is not stored")
        << "<LanguageCFG><NODE/><NODE><KEY String=\"orphan\"/></NODE>" + a + "</LanguageCFG>"
        << true << false << QStringList{"A=a1"};
    QTest::newRow("names differing in case or prefix are other elements")
        << "<LanguageCFG><node><KEY KeyString=\"C\"/></node><NODE><key KeyString=\"D\"/></NODE>"
           "<x:NODE><KEY KeyString=\"P\"/></x:NODE>" + a + "</LanguageCFG>"
        << true << false << QStringList{"A=a1"};
    QTest::newRow("root in other case never completes")
        << "<languagecfg>" + a + "</languagecfg>" << false << false << QStringList{};
    QTest::newRow("text, comments and other elements are ignored")
        << "<?xml version=\"1.0\"?><!-- c --><LanguageCFG>text<Group>" + a + "</Group></LanguageCFG>"
        << true << false << QStringList{"A=a1"};
    QTest::newRow("cut off before the root closes")
        << "<LanguageCFG>" + a + b << false << true << QStringList{};
    QTest::newRow("content after the root completes, then fails")
        << "<LanguageCFG>" + a + "</LanguageCFG><Extra/>" << true << true << QStringList{"A=a1"};
}

void tst_ParseOperation::parse()
{
    QFETCH(QByteArray, xml);
    QFETCH(bool, completes);
    QFETCH(bool, fails);
    QFETCH(QStringList, table);

    LanguageTable result;
    const Outcome outcome = parseToEnd(xml, &result);

    QCOMPARE(outcome.completions.size(), completes ? 1 : 0);
    QCOMPARE(outcome.errors.size(), fails ? 1 : 0);
    QCOMPARE(describe(result), table);
}

// The window reads the table on every timer tick, so it must never see one
// the worker is still writing: nothing reaches it before the completion runs
// on the main thread. A broken file is announced there too.
void tst_ParseOperation::announcesOnTheMainThread()
{
    QObject observer;
    Outcome outcome;
    ParseOperation good("<LanguageCFG>" + node("A", "a") + "</LanguageCFG>");
    ParseOperation broken("<LanguageCFG>\n" + node("A", "a"));
    outcome.observe(&observer, &good);
    outcome.observe(&observer, &broken);
    QThreadPool pool;
    pool.start(&good);
    pool.start(&broken);
    pool.waitForDone();
    QVERIFY(good.currentParseBatchDic().isEmpty());

    QTRY_COMPARE(outcome.completions.size() + outcome.errors.size(), 2);
    QCOMPARE(outcome.threads, QList<QThread *>(2, QThread::currentThread()));
    QCOMPARE(describe(good.currentParseBatchDic()), QStringList{"A=a"});
    QCOMPARE(outcome.completions.constFirst().object, &good);
    QVERIFY(outcome.completions.constFirst().userInfo.isEmpty());

    QCOMPARE(outcome.errors.constFirst().object, &broken);
    const auto error =
        outcome.errors.constFirst().userInfo.value(kEarthquakesMsgErrorKey).value<LanguageParseError>();
    QCOMPARE(error.code, int(QXmlStreamReader::PrematureEndOfDocumentError));
    QVERIFY(broken.currentParseBatchDic().isEmpty());
}

QTEST_GUILESS_MAIN(tst_ParseOperation)
#include "tst_parseoperation.moc"
