#include "language_loader.h"

#include "language_choice.h"
#include "parse_operation.h"

#include <QFile>
#include <QThreadPool>

ParseOperation *startLanguageParse(QThreadPool &queue, QObject *owner)
{
    const QString path = chooseLanguageResource();
    ParseOperation *operation = nullptr;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        operation = new ParseOperation(file.readAll(), owner);
        queue.start(operation);
    }
    qInfo("fileToOpen = %s", qUtf8Printable(path));
    return operation;
}
