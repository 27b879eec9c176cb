/* Writes bytes that are neither RTF nor text (they hold NULs). */
#include <kvendarres.h>

KVENDARRES_EXPORT void BuildResult(const unsigned char* testRecord, const KvResultList* results, KvStream* stream)
{
    (void)testRecord;
    (void)results;
    static const char kBytes[] = {'M', 'Z', 0, 1, 2, 0, 'x'};
    stream->write(stream->context, kBytes, (int32_t)sizeof kBytes);
    stream->seek(stream->context, 0, KVENDARRES_SEEK_SET);
}
