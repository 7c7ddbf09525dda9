#include "font_node.h"

float FontNode::pointSize() const
{
    return leadingFloatValue(FontSize);
}

QFont FontNode::font(const QFont &base) const
{
    QFont result(base);
    if (!Font.isEmpty())
        result.setFamily(Font);
    const float size = pointSize();
    if (size > 0)
        result.setPointSizeF(size);
    return result;
}

float leadingFloatValue(const QString &text)
{
    qsizetype pos = 0;
    const qsizetype end = text.size();
    while (pos < end && text.at(pos).isSpace())
        ++pos;
    const qsizetype start = pos;

    auto skipDigits = [&] {
        const qsizetype from = pos;
        while (pos < end && text.at(pos) >= u'0' && text.at(pos) <= u'9')
            ++pos;
        return pos - from;
    };

    if (pos < end && (text.at(pos) == u'+' || text.at(pos) == u'-'))
        ++pos;
    qsizetype digits = skipDigits();
    if (pos < end && text.at(pos) == u'.') {
        ++pos;
        digits += skipDigits();
    }
    if (digits == 0)
        return 0;

    // An exponent counts only when digits follow it: "12e" is 12.
    qsizetype numberEnd = pos;
    if (pos < end && (text.at(pos) == u'e' || text.at(pos) == u'E')) {
        ++pos;
        if (pos < end && (text.at(pos) == u'+' || text.at(pos) == u'-'))
            ++pos;
        if (skipDigits() > 0)
            numberEnd = pos;
    }

    bool ok = false;
    const float value = text.mid(start, numberEnd - start).toFloat(&ok);
    return ok ? value : 0;
}
