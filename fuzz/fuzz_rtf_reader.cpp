// Feeds arbitrary bytes to the RTF reader. Besides not crashing, leaking or hanging, whatever the reader
// makes of the input must survive our own writer: writing it and reading it back gives the same document.
#include "core/platform/RtfDocument.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const std::optional<kv::RtfDocument> document = kv::ParseRtf(input);
    if (!document)
        return 0;
    const QByteArray written = kv::WriteRtf(*document);
    const std::optional<kv::RtfDocument> back = kv::ParseRtf(written);
    if (!back || !(*back == *document)) {
        std::fprintf(stderr, "round trip changed the document; written as:\n%s\n", written.constData());
        std::abort();
    }
    return 0;
}
