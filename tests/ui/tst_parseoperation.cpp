#include "language_choice.h"
#include "notification_center.h"
#include "parse_operation.h"

#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QRawFont>
#include <QThread>
#include <QThreadPool>
#include <QtTest>

namespace {

const QStringList kWindowKeys = {"List1",      "List2",   "List3",       "Log In",
                                 "Refresh",    "My storage", "Device List", "Search Time"};

// Collects what one operation announces.
struct Outcome
{
    QList<Notification> completions;
    QList<Notification> errors;
    QList<QThread *> deliveryThreads;
};

void observe(QObject *observer, ParseOperation *operation, Outcome *outcome)
{
    auto &center = NotificationCenter::defaultCenter();
    center.addObserver(
        observer, kAddEarthquakesNotif,
        [outcome](const Notification &n) {
            outcome->completions << n;
            outcome->deliveryThreads << QThread::currentThread();
        },
        operation);
    center.addObserver(
        observer, kEarthquakeErrorNotif,
        [outcome](const Notification &n) {
            outcome->errors << n;
            outcome->deliveryThreads << QThread::currentThread();
        },
        operation);
}

// Runs the whole parse on a pool thread and delivers everything it queued
// for the main thread. Once the pool is done every announcement is queued, so
// sending the posted events is the exact handoff; nothing is left to timing.
Outcome parseToEnd(const QByteArray &xml, LanguageTable *table)
{
    Outcome outcome;
    QObject observer;
    ParseOperation operation(xml);
    observe(&observer, &operation, &outcome);
    QThreadPool pool;
    pool.start(&operation);
    pool.waitForDone();
    QCoreApplication::sendPostedEvents(&operation);
    *table = operation.currentParseBatchDic();
    return outcome;
}

// "key=String" for every entry, sorted, to compare whole tables in one line.
QStringList describe(const LanguageTable &table)
{
    QStringList lines;
    for (auto it = table.cbegin(); it != table.cend(); ++it)
        lines << it.key() + '=' + it->String;
    lines.sort();
    return lines;
}

QByteArray node(const char *key, const char *text)
{
    return QByteArray("<NODE><KEY KeyString=\"") + key + "\" String=\"" + text
           + "\" Font=\"Noto Sans\" Size=\"12\"/></NODE>";
}

}  // namespace

class tst_ParseOperation : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void secondKeyOverwritesEveryMember();
    void announcesOnTheMainThreadOnly();
    void brokenFileReportsTheError();
    void shippedResourceIsComplete_data();
    void shippedResourceIsComplete();
};

void tst_ParseOperation::parse_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<bool>("completes");
    QTest::addColumn<bool>("fails");
    QTest::addColumn<QStringList>("table");

    const QByteArray a = node("A", "a1");
    const QByteArray b = node("B", "b");

    QTest::newRow("one entry per node")
        << "<LanguageCFG>" + a + b + "</LanguageCFG>" << true << false
        << QStringList{"A=a1", "B=b"};
    QTest::newRow("later node with the same key wins")
        << "<LanguageCFG>" + a + node("A", "a2") + "</LanguageCFG>" << true << false
        << QStringList{"A=a2"};
    QTest::newRow("key before the first node is ignored")
        << "<LanguageCFG><KEY KeyString=\"A\" String=\"stray\"/>" + a + "</LanguageCFG>"
        << true << false << QStringList{"A=a1"};
    QTest::newRow("key between nodes leaves the stored entry alone")
        << "<LanguageCFG>" + a + "<KEY KeyString=\"Z\" String=\"stray\"/>" + b + "</LanguageCFG>"
        << true << false << QStringList{"A=a1", "B=b"};
    QTest::newRow("node without a key is not stored")
        << "<LanguageCFG><NODE/><NODE><KEY String=\"orphan\"/></NODE>" + a + "</LanguageCFG>"
        << true << false << QStringList{"A=a1"};
    QTest::newRow("names differing in case are other elements")
        << "<LanguageCFG><node><KEY KeyString=\"C\" String=\"c\"/></node>"
           "<NODE><key KeyString=\"D\" String=\"d\"/></NODE>" + a + "</LanguageCFG>"
        << true << false << QStringList{"A=a1"};
    QTest::newRow("root in other case never completes")
        << "<languagecfg>" + a + "</languagecfg>" << false << false << QStringList{};
    QTest::newRow("prefixed names are other elements")
        << "<LanguageCFG><x:NODE><KEY KeyString=\"P\" String=\"p\"/></x:NODE>" + a
               + "</LanguageCFG>"
        << true << false << QStringList{"A=a1"};
    QTest::newRow("text, comments and other elements are ignored")
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?><!-- c --><LanguageCFG>text<Group>" + a
               + "</Group>" + b + "</LanguageCFG>"
        << true << false << QStringList{"A=a1", "B=b"};
    QTest::newRow("cut off before the root closes")
        << "<LanguageCFG>" + a + b << false << true << QStringList{};
    QTest::newRow("error inside stops the parse")
        << "<LanguageCFG>" + a + "<NODE></KEY>" + b + "</LanguageCFG>" << false << true
        << QStringList{};
    QTest::newRow("empty file") << QByteArray() << false << true << QStringList{};
    QTest::newRow("content after the root completes, then fails")
        << "<LanguageCFG>" + a + "</LanguageCFG><Extra/>" << true << true
        << QStringList{"A=a1"};
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

void tst_ParseOperation::secondKeyOverwritesEveryMember()
{
    LanguageTable table;
    parseToEnd("<LanguageCFG><NODE>"
          "<KEY KeyString=\"Old\" String=\"s\" Font=\"f\" Color=\"c\" Size=\"12.5\" Offset=\"o\"/>"
          "<KEY KeyString=\"New\" String=\"s2\" Size=\"abc\"/>"
          "</NODE><NODE>"
          "<KEY KeyString=\"Full\" String=\"s\" Font=\"f\" Color=\"c\" Size=\"12.5\" Offset=\"o\"/>"
          "</NODE></LanguageCFG>",
          &table);

    QCOMPARE(table.keys().size(), 2);
    const FontNode overwritten = table.value("New");
    QCOMPARE(overwritten.KeyString, QStringLiteral("New"));
    QCOMPARE(overwritten.String, QStringLiteral("s2"));
    QVERIFY(overwritten.Font.isEmpty());
    QVERIFY(overwritten.FontColor.isEmpty());
    QVERIFY(overwritten.FontOffset.isEmpty());
    QCOMPARE(overwritten.pointSize(), 0.0f);

    const FontNode full = table.value("Full");
    QCOMPARE(full.Font, QStringLiteral("f"));
    QCOMPARE(full.FontColor, QStringLiteral("c"));
    QCOMPARE(full.FontOffset, QStringLiteral("o"));
    QCOMPARE(full.pointSize(), 12.5f);
}

// The window reads the table on every timer tick, so it must never see one
// the worker is still writing: nothing reaches it before the completion runs
// on the main thread.
void tst_ParseOperation::announcesOnTheMainThreadOnly()
{
    Outcome outcome;
    QObject observer;
    ParseOperation operation("<LanguageCFG>" + node("A", "a") + "</LanguageCFG>");
    observe(&observer, &operation, &outcome);
    QThreadPool pool;
    pool.start(&operation);
    pool.waitForDone();

    QVERIFY(operation.currentParseBatchDic().isEmpty());
    QTRY_COMPARE(outcome.completions.size(), 1);
    QCOMPARE(describe(operation.currentParseBatchDic()), QStringList{"A=a"});
    const Notification &done = outcome.completions.constFirst();
    QCOMPARE(done.object, &operation);
    QVERIFY(done.userInfo.isEmpty());
    QCOMPARE(outcome.deliveryThreads, QList<QThread *>{QThread::currentThread()});
}

void tst_ParseOperation::brokenFileReportsTheError()
{
    Outcome outcome;
    QObject observer;
    ParseOperation operation("<LanguageCFG>\n" + node("A", "a"));
    observe(&observer, &operation, &outcome);
    QThreadPool pool;
    pool.start(&operation);

    QTRY_COMPARE(outcome.errors.size(), 1);
    const Notification &failed = outcome.errors.constFirst();
    QCOMPARE(failed.object, &operation);
    QCOMPARE(outcome.deliveryThreads, QList<QThread *>{QThread::currentThread()});
    const QVariant value = failed.userInfo.value(kEarthquakesMsgErrorKey);
    QVERIFY(value.canConvert<LanguageParseError>());
    const auto error = value.value<LanguageParseError>();
    QCOMPARE(error.code, int(QXmlStreamReader::PrematureEndOfDocumentError));
    QVERIFY(!error.message.isEmpty());
    QCOMPARE(error.lineNumber, 2);
    QVERIFY(outcome.completions.isEmpty());
    QVERIFY(operation.currentParseBatchDic().isEmpty());
    pool.waitForDone();
}

void tst_ParseOperation::shippedResourceIsComplete_data()
{
    QTest::addColumn<QString>("resource");
    for (const char *name : {"XML_en", "XML_de", "XML_fr", "XML_es", "XML_it", "XML_ja", "XML_ch"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

void tst_ParseOperation::shippedResourceIsComplete()
{
    QFETCH(QString, resource);

    QFile file(languageResourcePath(resource));
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
    LanguageTable table;
    const Outcome outcome = parseToEnd(file.readAll(), &table);
    QCOMPARE(outcome.errors.size(), 0);
    QCOMPARE(outcome.completions.size(), 1);
    QCOMPARE(table.size(), kWindowKeys.size());

    const QStringList families = QFontDatabase::families();
    for (const QString &key : kWindowKeys) {
        QVERIFY2(table.contains(key), qPrintable(key));
        const FontNode entry = table.value(key);
        QVERIFY2(!entry.String.trimmed().isEmpty(), qPrintable(key));
        QVERIFY2(families.contains(entry.Font), qPrintable(key + ": no font " + entry.Font));
        QVERIFY2(entry.pointSize() >= 9 && entry.pointSize() <= 20, qPrintable(key));

        // The named font itself must draw the text; a Latin font handed
        // Japanese would leave the window to whatever fallback it finds.
        const QFont font = entry.font(QFont());
        QCOMPARE(QFontInfo(font).family(), entry.Font);
        const QRawFont raw = QRawFont::fromFont(font);
        for (char32_t c : entry.String.toUcs4())
            QVERIFY2(raw.supportsCharacter(c), qPrintable(key + ": " + entry.String));
    }
}

QTEST_MAIN(tst_ParseOperation)
#include "tst_parseoperation.moc"
