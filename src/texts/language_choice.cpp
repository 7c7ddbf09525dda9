#include "language_choice.h"

#include <QDebug>
#include <QLocale>

QString preferredLanguageCode(const QStringList &uiLanguages)
{
    if (uiLanguages.isEmpty())
        return {};
    const QString &first = uiLanguages.constFirst();
    // QLocale accepts both "zh_CN.UTF-8" and "zh-Hans-CN" and fills in the
    // script a region implies, so zh_SG is simplified and zh_HK traditional.
    const QLocale locale(first);
    switch (locale.language()) {
    case QLocale::Chinese:
        return locale.script() == QLocale::SimplifiedHanScript ? QStringLiteral("zh-Hans") : first;
    case QLocale::Japanese:
        return QStringLiteral("ja");
    case QLocale::German:
        return QStringLiteral("de");
    case QLocale::French:
        return QStringLiteral("fr");
    case QLocale::Spanish:
        return QStringLiteral("es");
    case QLocale::Italian:
        return QStringLiteral("it");
    default:
        return first;
    }
}

QString languageResourceName(const QString &languageCode)
{
    static const struct
    {
        const char *code;
        const char *resource;
    } table[] = {
        {"zh-Hans", "XML_ch"}, {"ja", "XML_ja"}, {"de", "XML_de"},
        {"fr", "XML_fr"},      {"es", "XML_es"}, {"it", "XML_it"},
    };
    for (const auto &entry : table) {
        if (languageCode == QLatin1String(entry.code))
            return QLatin1String(entry.resource);
    }
    return QStringLiteral("XML_en");
}

QString languageResourcePath(const QString &resourceName)
{
    return QStringLiteral(":/languages/%1.xml").arg(resourceName);
}

QString chooseLanguageResource()
{
    const QString code = preferredLanguageCode(QLocale::system().uiLanguages());
    qInfo("current=%s", qUtf8Printable(code));
    return languageResourcePath(languageResourceName(code));
}
