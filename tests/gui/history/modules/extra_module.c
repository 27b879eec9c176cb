/* A module of the second version: writes back as plain text what BuildResultEx was given besides
 * the ranking, so a test sees the consistency and the answers that crossed the boundary. Its
 * BuildResult, for older programs, says only that it was the one called. */
#include <kvendarres.h>

#include <stdio.h>
#include <string.h>

static void Put(KvStream* s, const char* data, int32_t length)
{
    if (data != NULL && length > 0)
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

static void PutName(KvStream* s, KvText text)
{
    Put(s, text.data, text.length);
}

KVENDARRES_EXPORT void BuildResult(const unsigned char* testRecord, const KvResultList* results, KvStream* stream)
{
    (void)testRecord;
    (void)results;
    PutText(stream, "via BuildResult");
    stream->seek(stream->context, 0, KVENDARRES_SEEK_SET);
}

KVENDARRES_EXPORT void BuildResultEx(const unsigned char* testRecord, const KvResultList* results,
                                     const KvResultExtra* extra, KvStream* stream)
{
    char buffer[128];
    (void)testRecord;
    (void)results;
    PutText(stream, "via BuildResultEx\n");
    if (!KVENDARRES_EXTRA_HAS(extra, answers)) {
        PutText(stream, "extra too small");
        stream->seek(stream->context, 0, KVENDARRES_SEEK_SET);
        return;
    }
    PutText(stream, "version ");
    PutNumber(stream, extra->version);
    PutText(stream, " size ");
    PutText(stream, extra->size == sizeof(KvResultExtra) ? "ok" : "BAD");
    PutText(stream, "\nsource ");
    PutNumber(stream, extra->source);
    PutText(stream, " n ");
    PutNumber(stream, extra->n);
    PutText(stream, " triads ");
    PutNumber(stream, extra->triads);
    PutText(stream, " of ");
    PutNumber(stream, extra->maxTriads);
    snprintf(buffer, sizeof buffer, " zeta %.3f p %.4f exact %d\n", extra->zeta, extra->pRandom, (int)extra->pExact);
    PutText(stream, buffer);
    for (int32_t i = 0; i < extra->circularCount; ++i) {
        PutText(stream, "triad ");
        PutName(stream, extra->circular[i].a);
        PutText(stream, ">");
        PutName(stream, extra->circular[i].b);
        PutText(stream, ">");
        PutName(stream, extra->circular[i].c);
        PutText(stream, "\n");
    }
    for (int32_t i = 0; i < extra->answerCount; ++i) {
        const KvAnswer* a = &extra->answers[i];
        PutText(stream, "answer ");
        PutNumber(stream, a->question);
        PutText(stream, "|");
        PutName(stream, a->upper);
        PutText(stream, "|");
        PutNumber(stream, a->upperGroup);
        PutText(stream, "|");
        PutName(stream, a->lower);
        PutText(stream, "|");
        PutNumber(stream, a->lowerGroup);
        PutText(stream, "|");
        PutNumber(stream, a->chosen);
        PutText(stream, "|");
        PutNumber(stream, a->responseMs);
        PutText(stream, "\n");
    }
    PutText(stream, "end");
    stream->seek(stream->context, 0, KVENDARRES_SEEK_SET);
}
