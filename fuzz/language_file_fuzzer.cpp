// A language file through its parse, run on the calling thread, with the
// completion or error it queues delivered, then every entry's font size read.
#include "fuzz_check.h"
#include "src/texts/parse_operation.h"

#include <QCoreApplication>
#include <QFont>

#include <cmath>
#include <cstdint>

namespace {

// The parse logs a line per KEY; a flood of them would drown libFuzzer's report.
void DropMessage(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtFatalMsg) fuzz::Fail(qUtf8Printable(message), __FILE__, __LINE__);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    qInstallMessageHandler(DropMessage);
    // The completion is queued to the thread the operation lives in.
    static QCoreApplication application(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ParseOperation operation(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    operation.run();
    QCoreApplication::sendPostedEvents(&operation);
    const LanguageTable& table = operation.currentParseBatchDic();
    for (auto entry = table.cbegin(); entry != table.cend(); ++entry) {
        FUZZ_CHECK(!entry.key().isEmpty() && entry.key() == entry->KeyString);
        FUZZ_CHECK(std::isfinite(entry->pointSize()));
        entry->font(QFont());
    }
    return 0;
}
