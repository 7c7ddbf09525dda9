// Which language file the window uses: chosen from the user's preferred
// languages, which Qt reads from LANGUAGE, LC_ALL, LC_MESSAGES and LANG.
// Pure functions apart from chooseLanguageResource(); any thread.
#pragma once

#include <QString>
#include <QStringList>

// The most preferred language in the form the files are chosen by:
// "zh-Hans" for Chinese in simplified script, "ja", "de", "fr", "es" or "it"
// for those languages whatever the region; any other first preference as it
// is given ("en-GB", "zh-TW", "C"); empty when there is no preference.
QString preferredLanguageCode(const QStringList &uiLanguages);

// "XML_ch" for "zh-Hans", "XML_ja", "XML_de", "XML_fr", "XML_es" and "XML_it"
// for their codes, "XML_en" for anything else.
QString languageResourceName(const QString &languageCode);

// Where a language file is kept inside the program (":/languages/XML_en.xml").
QString languageResourcePath(const QString &resourceName);

// The file for this user's languages; logs "current=" with the chosen code.
QString chooseLanguageResource();
