#include "parse_operation.h"

#include "notification_center.h"

#include <QDebug>
#include <QMetaObject>
#include <QVariant>
#include <QXmlStreamReader>

ParseOperation::ParseOperation(const QByteArray &data, QObject *parent)
    : QObject(parent), earthquakeData(data)
{
    setAutoDelete(false);
}

void ParseOperation::run()
{
    if (started.exchange(true))
        return;

    QXmlStreamReader reader(earthquakeData);
    // Tags are matched as written, prefix and all; a prefix is not an error.
    reader.setNamespaceProcessing(false);

    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement:
            didStartElement(reader.qualifiedName(), reader.attributes());
            break;
        case QXmlStreamReader::EndElement:
            didEndElement(reader.qualifiedName());
            break;
        default:
            break;
        }
    }

    // CustomError would be an abort of our own making, not a broken file.
    if (reader.hasError() && reader.error() != QXmlStreamReader::CustomError) {
        const LanguageParseError error{reader.error(), reader.errorString(),
                                       reader.lineNumber(), reader.columnNumber()};
        QMetaObject::invokeMethod(
            this, [this, error] { handleEarthquakesError(error); }, Qt::QueuedConnection);
    }
}

void ParseOperation::didStartElement(QStringView name, const QXmlStreamAttributes &attributes)
{
    if (name == u"NODE") {
        currentEarthquakeObject.emplace();
    } else if (name == u"KEY") {
        qInfo("KEY1=%s", qUtf8Printable(name.toString()));
        if (!currentEarthquakeObject)
            return;
        // Every member is overwritten: an absent attribute empties it.
        FontNode &node = *currentEarthquakeObject;
        node.KeyString = attributes.value(QStringLiteral("KeyString")).toString();
        node.String = attributes.value(QStringLiteral("String")).toString();
        node.Font = attributes.value(QStringLiteral("Font")).toString();
        node.FontColor = attributes.value(QStringLiteral("Color")).toString();
        node.FontSize = attributes.value(QStringLiteral("Size")).toString();
        node.FontOffset = attributes.value(QStringLiteral("Offset")).toString();
    }
}

void ParseOperation::didEndElement(QStringView name)
{
    if (name == u"NODE") {
        // An entry without a key could never be looked up.
        if (currentEarthquakeObject && !currentEarthquakeObject->KeyString.isEmpty())
            parsingTable.insert(currentEarthquakeObject->KeyString, *currentEarthquakeObject);
        currentEarthquakeObject.reset();
    } else if (name == u"LanguageCFG") {
        // A copy, so the worker never writes a table the main thread reads.
        QMetaObject::invokeMethod(
            this,
            [this, table = parsingTable] {
                finishedTable = table;
                NotificationCenter::defaultCenter().postNotificationName(kAddEarthquakesNotif, this);
            },
            Qt::QueuedConnection);
    }
}

void ParseOperation::handleEarthquakesError(const LanguageParseError &error)
{
    NotificationCenter::defaultCenter().postNotificationName(
        kEarthquakeErrorNotif, this, {{kEarthquakesMsgErrorKey, QVariant::fromValue(error)}});
}
