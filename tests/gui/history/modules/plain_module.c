/* Writes the data it was given back as plain text, after a prefix it then skips by seeking, so a
 * test sees what crossed the boundary and that reading starts at the stream's position. It also
 * scribbles over its copy of the record, which must not reach the program. */
#include <kvendarres.h>

#include <stdio.h>
#include <string.h>

static void Put(KvStream* s, const char* data, int32_t length)
{
    s->write(s->context, data, length);
}

static void PutText(KvStream* s, const char* text)
{
    Put(s, text, (int32_t)strlen(text));
}

static void PutNumber(KvStream* s, long long n)
{
    char buffer[32];
    snprintf(buffer, sizeof buffer, "%lld", n);
    PutText(s, buffer);
}

KVENDARRES_EXPORT void BuildResult(const unsigned char* testRecord, const KvResultList* results, KvStream* stream)
{
    PutText(stream, "IGNORED PREFIX\n");
    const int64_t start = stream->seek(stream->context, 0, KVENDARRES_SEEK_CUR);

    PutText(stream, "fio=");
    Put(stream, (const char*)testRecord + KVENDARRES_OFS_FIO + 1, testRecord[KVENDARRES_OFS_FIO]);
    PutText(stream, "\n");
    for (int32_t g = 0; g < results->count; ++g) {
        const KvResultGroup* group = &results->groups[g];
        PutText(stream, "group ");
        PutNumber(stream, group->number);
        PutText(stream, "|");
        Put(stream, group->name.data, group->name.length);
        PutText(stream, "|");
        PutNumber(stream, group->score);
        PutText(stream, "\n");
        for (int32_t v = 0; v < group->valueCount; ++v) {
            const KvResultValue* value = &group->values[v];
            PutText(stream, "value ");
            Put(stream, value->name.data, value->name.length);
            PutText(stream, "|");
            PutNumber(stream, value->groupNumber);
            PutText(stream, "|");
            Put(stream, value->groupName.data, value->groupName.length);
            PutText(stream, "|");
            PutNumber(stream, value->score);
            PutText(stream, "\n");
        }
    }
    /* The stream's other callbacks: read back what was written and report the size. */
    {
        char first[4] = {0};
        const int64_t end = stream->seek(stream->context, 0, KVENDARRES_SEEK_END);
        stream->seek(stream->context, start, KVENDARRES_SEEK_SET);
        const int32_t got = stream->read(stream->context, first, 4);
        stream->seek(stream->context, end, KVENDARRES_SEEK_SET);
        PutText(stream, got == 4 && memcmp(first, "fio=", 4) == 0 ? "read ok" : "read BAD");
        PutText(stream, stream->size(stream->context) == end + 7 ? ", size ok" : ", size BAD");
        PutText(stream, stream->seek(stream->context, -1, KVENDARRES_SEEK_SET) == -1 ? ", seek ok" : ", seek BAD");
    }
    memset((unsigned char*)testRecord, 0x55, KVENDARRES_RECORD_SIZE);
    stream->seek(stream->context, start, KVENDARRES_SEEK_SET);
}
