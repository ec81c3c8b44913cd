// libFuzzer harness for one reader of connection files, chosen when it is built:
// whatever the bytes, the reader returns a result or throws an AppError.
#include "AppError.h"
#include "ConfConsFile.h"
#include "RdgFile.h"
#include "RdpFile.h"
#include "RemminaFile.h"

#include <cstddef>
#include <cstdint>

namespace {

TImportResult read(const QByteArray &bytes)
{
    const QString name = QStringLiteral("fuzz");
#if defined(FUZZ_READER_rdp)
    return ReadRdpFile(bytes, name);
#elif defined(FUZZ_READER_remmina)
    return ReadRemminaFile(bytes, name);
#elif defined(FUZZ_READER_rdg)
    return ReadRdgFile(bytes, name);
#elif defined(FUZZ_READER_confcons)
    return ReadConfConsFile(bytes, name);
#else
#error "no reader chosen"
#endif
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    try {
        const TImportResult result = read(bytes);
        // Every record has an address, and a port the catalogue can hold.
        for (const TImportRecord &record : result.Records)
            if (record.Settings.Server.isEmpty() || record.Settings.Port < 1 || record.Settings.Port > 65535)
                __builtin_trap();
    } catch (const AppError &) {
    }
    return 0;
}
