// One entry of the language table: the text, font and size that the
// language file gives one control of the device list window.
//
// A plain value: the parse fills it on its worker thread, and the table that
// holds it is handed to the main thread whole, so it needs no lock.
#pragma once

#include <QFont>
#include <QHash>
#include <QString>

class FontNode
{
public:
    // The six attributes of a "KEY" element, as the file gives them.
    QString KeyString;
    QString String;
    QString Font;
    QString FontColor;   // kept, not applied
    QString FontSize;
    QString FontOffset;  // kept, not applied

    // The leading decimal number of FontSize after optional blanks, as the
    // font size in points; 0 when FontSize starts with no number.
    float pointSize() const;

    // `base` with the family of Font and the size of pointSize(). An empty
    // Font keeps the base family and a size of 0 keeps the base size, so a
    // control keeps its layout font rather than shrinking to nothing.
    QFont font(const QFont &base) const;
};

// The leading decimal number of `text` after optional blanks ("12.5pt" gives
// 12.5, "abc" and "" give 0). Always '.' as the decimal mark, whatever the locale.
float leadingFloatValue(const QString &text);

// The language table: FontNode entries by their KeyString.
using LanguageTable = QHash<QString, FontNode>;
