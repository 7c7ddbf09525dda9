// Reads one language file into the language table, once, on a worker thread,
// and tells the main thread when the table is complete or the file is broken.
//
// Create it on the main thread (its completions are queued to the thread it
// lives in) and hand it to a QThreadPool once. It does not delete itself: the
// window keeps it for the life of the process. Do not destroy it while the
// pool may still be running it.
//
// Threads: the worker thread builds the table alone; the main thread sees a
// table only through currentParseBatchDic(), which is filled with the finished
// table just before "AddEarthquakesNotif" is posted. No table is shared while
// it is being written, so neither side takes a lock.
#pragma once

#include "font_node.h"

#include <QByteArray>
#include <QMetaType>
#include <QObject>
#include <QRunnable>
#include <QString>
#include <QXmlStreamAttributes>

#include <atomic>
#include <optional>

// Posted on the main thread each time "LanguageCFG" ends; the object is the
// ParseOperation, there is no user info.
inline const QString kAddEarthquakesNotif = QStringLiteral("AddEarthquakesNotif");
// Posted on the main thread when the file is not well-formed XML; the object
// is the ParseOperation, the LanguageParseError is under kEarthquakesMsgErrorKey.
inline const QString kEarthquakeErrorNotif = QStringLiteral("EarthquakeErrorNotif");
inline const QString kEarthquakesMsgErrorKey = QStringLiteral("EarthquakesMsgErrorKey");

// What the XML reader reported when it stopped; code is a QXmlStreamReader::Error.
struct LanguageParseError
{
    int code = 0;
    QString message;
    qint64 lineNumber = 0;
    qint64 columnNumber = 0;
};
Q_DECLARE_METATYPE(LanguageParseError)

class ParseOperation : public QObject, public QRunnable
{
    Q_OBJECT

public:
    // Keeps its own copy of the file's bytes.
    explicit ParseOperation(const QByteArray &data, QObject *parent = nullptr);

    // The parse, on the pool's worker thread. It stops at the first XML
    // error. A second run does nothing.
    void run() override;

    // Main thread only. Empty until the first "AddEarthquakesNotif", then
    // the complete language table; it does not change while nobody is told.
    const LanguageTable &currentParseBatchDic() const { return finishedTable; }

    // Main thread only: posts "EarthquakeErrorNotif" carrying `error`.
    void handleEarthquakesError(const LanguageParseError &error);

private:
    void didStartElement(QStringView name, const QXmlStreamAttributes &attributes);
    void didEndElement(QStringView name);

    // Set at construction, read-only afterwards. The name is fixed, like the
    // notification's; it holds the language file, nothing about earthquakes.
    const QByteArray earthquakeData;

    std::atomic<bool> started{false};

    // Worker thread only.
    LanguageTable parsingTable;
    // The entry of the "NODE" now open; none between nodes, so a stray "KEY"
    // there cannot alter an entry already stored.
    std::optional<FontNode> currentEarthquakeObject;

    // Main thread only.
    LanguageTable finishedTable;
};
