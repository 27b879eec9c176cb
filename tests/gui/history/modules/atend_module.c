/* Writes a document and leaves the stream positioned at its end. */
#include <kvendarres.h>

#include <string.h>

KVENDARRES_EXPORT void BuildResult(const unsigned char* testRecord, const KvResultList* results, KvStream* stream)
{
    (void)testRecord;
    (void)results;
    static const char kDoc[] = "This text stays behind the stream position.";
    stream->write(stream->context, kDoc, (int32_t)strlen(kDoc));
}
