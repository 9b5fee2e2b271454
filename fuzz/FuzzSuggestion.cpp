// The tag suggestion client's reading of the service's answer, on any bytes: it must never
// read past what came, and only a checked body may turn into suggestions.
#include <cstddef>
#include <cstdint>

#include <QString>
#include <QStringList>

#include "fuzz/FuzzSupport.h"
#include "media/KRAAutoComplete.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const QString fields[] = {QStringLiteral("artist"), QStringLiteral("album"), QStringLiteral("Orchestra")};
    const QString& field = fields[size ? data[0] % 3 : 0];
    QStringList out;
    const KRAAutoComplete::Reply reply =
        KRAAutoComplete::parseReply(size ? data + 1 : data, size ? size - 1 : 0, field, out);
    fuzz::Check(reply == KRAAutoComplete::Reply::Suggestions || out.isEmpty(), "suggestions from a refused answer");
    return 0;
}
