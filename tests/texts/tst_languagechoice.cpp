#include "language_choice.h"

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

QTEST_GUILESS_MAIN(tst_LanguageChoice)
#include "tst_languagechoice.moc"
