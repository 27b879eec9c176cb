/* Writes a short RTF document with one bold word in Cyrillic and seeks back to its start. */
#include <kvendarres.h>

#include <string.h>

KVENDARRES_EXPORT void BuildResult(const unsigned char* testRecord, const KvResultList* results, KvStream* stream)
{
    (void)testRecord;
    (void)results;
    /* "Жирный" in bold, then "обычный" */
    static const char kDoc[] = "{\\rtf1\\ansi\\ansicpg1251\\deff0{\\fonttbl{\\f0 Arial;}}"
                               "\\pard {\\b \\'c6\\'e8\\'f0\\'ed\\'fb\\'e9}\\par "
                               "\\'ee\\'e1\\'fb\\'f7\\'ed\\'fb\\'e9\\par}";
    stream->write(stream->context, kDoc, (int32_t)strlen(kDoc));
    stream->seek(stream->context, 0, KVENDARRES_SEEK_SET);
}
