#include "language_choice.h"
#include "language_loader.h"
#include "notification_center.h"
#include "parse_operation.h"

#include <QFile>
#include <QThreadPool>
#include <QtTest>

class tst_LanguageChoice : public QObject
{
    Q_OBJECT

private slots:
    void mapsPreferredLanguageToFile_data();
    void mapsPreferredLanguageToFile();
    void loadsTheFileOfTheEnvironmentsLanguage();
};

void tst_LanguageChoice::mapsPreferredLanguageToFile_data()
{
    QTest::addColumn<QStringList>("uiLanguages");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("resource");

    QTest::newRow("zh-CN") << QStringList{"zh-CN", "zh-Hans-CN", "zh"} << "zh-Hans" << "XML_ch";
    QTest::newRow("zh_SG posix") << QStringList{"zh_SG"} << "zh-Hans" << "XML_ch";
    QTest::newRow("zh-TW traditional") << QStringList{"zh-TW"} << "zh-TW" << "XML_en";
    QTest::newRow("zh_HK traditional") << QStringList{"zh_HK.UTF-8"} << "zh_HK.UTF-8" << "XML_en";
    QTest::newRow("ja-JP") << QStringList{"ja-JP"} << "ja" << "XML_ja";
    QTest::newRow("de_CH posix") << QStringList{"de_CH.UTF-8"} << "de" << "XML_de";
    QTest::newRow("es-MX") << QStringList{"es-MX"} << "es" << "XML_es";
    QTest::newRow("it") << QStringList{"it"} << "it" << "XML_it";
    QTest::newRow("en-GB") << QStringList{"en-GB"} << "en-GB" << "XML_en";
    QTest::newRow("C locale") << QStringList{"C"} << "C" << "XML_en";
    QTest::newRow("no preference") << QStringList{} << "" << "XML_en";
    QTest::newRow("only the first counts") << QStringList{"en-US", "de"} << "en-US" << "XML_en";
}

void tst_LanguageChoice::mapsPreferredLanguageToFile()
{
    QFETCH(QStringList, uiLanguages);
    QFETCH(QString, code);
    QFETCH(QString, resource);

    QCOMPARE(preferredLanguageCode(uiLanguages), code);
    QCOMPARE(languageResourceName(code), resource);
    QVERIFY2(QFile::exists(languageResourcePath(resource)), qPrintable(resource));
}

// ctest runs this program with LANGUAGE=fr:en and LANG=de_DE.UTF-8:
// LANGUAGE comes first, as it does for every other desktop program. The
// route ends with the French table announced on this thread.
void tst_LanguageChoice::loadsTheFileOfTheEnvironmentsLanguage()
{
    if (qEnvironmentVariable("LANGUAGE") != QLatin1String("fr:en"))
        QSKIP("run through ctest, which sets LANGUAGE=fr:en");

    QObject window;
    int announced = 0;
    NotificationCenter::defaultCenter().addObserver(&window, kAddEarthquakesNotif,
                                                    [&](const Notification &) { ++announced; });
    QThreadPool queue;
    QTest::ignoreMessage(QtInfoMsg, "current=fr");
    QTest::ignoreMessage(QtInfoMsg, "fileToOpen = :/languages/XML_fr.xml");
    ParseOperation *operation = startLanguageParse(queue, &window);

    QVERIFY(operation);
    QCOMPARE(operation->parent(), &window);
    QTRY_COMPARE(announced, 1);
    QCOMPARE(operation->currentParseBatchDic().value("Refresh").String, QStringLiteral("Actualiser"));
}

QTEST_GUILESS_MAIN(tst_LanguageChoice)
#include "tst_languagechoice.moc"
