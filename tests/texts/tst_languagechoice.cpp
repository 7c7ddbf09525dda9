#include "src/texts/language_choice.h"

#include <QFile>
#include <QtTest>

class tst_LanguageChoice : public QObject
{
    Q_OBJECT

private slots:
    void mapsPreferredLanguageToFile_data();
    void mapsPreferredLanguageToFile();
};

void tst_LanguageChoice::mapsPreferredLanguageToFile_data()
{
    QTest::addColumn<QStringList>("uiLanguages");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("resource");

    // The script decides Chinese, whether a region implies it or a POSIX
    // name carries it; other languages go by language whatever the region;
    // every other preference falls to English.
    QTest::newRow("zh-CN implies simplified") << QStringList{"zh-CN", "zh-Hans-CN", "zh"} << "zh-Hans" << "XML_ch";
    QTest::newRow("zh_SG implies simplified") << QStringList{"zh_SG"} << "zh-Hans" << "XML_ch";
    QTest::newRow("zh-TW is traditional") << QStringList{"zh-TW"} << "zh-TW" << "XML_en";
    QTest::newRow("zh_HK.UTF-8 is traditional") << QStringList{"zh_HK.UTF-8"} << "zh_HK.UTF-8" << "XML_en";
    QTest::newRow("de_CH.UTF-8 is German") << QStringList{"de_CH.UTF-8"} << "de" << "XML_de";
    QTest::newRow("en-GB") << QStringList{"en-GB"} << "en-GB" << "XML_en";
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

QTEST_GUILESS_MAIN(tst_LanguageChoice)
#include "tst_languagechoice.moc"
