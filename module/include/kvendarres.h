/* The interpretation module's boundary: everything a module author compiles against.
 *
 * A module is a shared library named libkvendarres.so that exports one C function, BuildResult.
 * Kvendar loads it only while it composes a detailed result, calls BuildResult once and releases
 * the library right after reading the stream, so a module must not keep pointers, threads or
 * callbacks past its return.
 *
 * All data is plain: no C++ objects, no allocator shared with the program. Text is single-byte
 * Windows-1251 with an explicit length (the byte after the text is a zero, but lengths are what
 * count: names may hold any byte).
 *
 * Header version: KVENDARRES_INTERFACE_VERSION. The layouts below never change within a version.
 * Version 2 adds, without touching anything of version 1, an optional second entry point,
 * BuildResultEx, that also gets the consistency of the respondent's answers and the answers
 * themselves (see the end of this header). A module built against version 1 keeps working: the
 * program calls BuildResultEx when the module exports it and BuildResult otherwise.
 */
#ifndef KVENDARRES_H
#define KVENDARRES_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define KVENDARRES_INTERFACE_VERSION 2

/* The test record handed to BuildResult is the 681-byte database record, packed, little-endian.
 * Short strings are a length byte (0..80) followed by 80 character bytes; only the first
 * min(length, 80) bytes are text. The date is an IEEE 754 double counting days since 1899-12-30
 * (local time, the fraction is the time of day). */
#define KVENDARRES_RECORD_SIZE 681
#define KVENDARRES_OFS_ID 0         /* uint32 test number */
#define KVENDARRES_OFS_FIO 4        /* short string: respondent's name */
#define KVENDARRES_OFS_DATE 85      /* double */
#define KVENDARRES_OFS_AGE 93       /* int32 */
#define KVENDARRES_OFS_SEX 97       /* uint8: 0 no answer, 1 male, 2 female */
#define KVENDARRES_OFS_SOCIAL 98    /* short string: family status */
#define KVENDARRES_OFS_CHILDREN 179 /* short string */
#define KVENDARRES_OFS_PLACE_OF_LIVING 260
#define KVENDARRES_OFS_EDUCATION 341
#define KVENDARRES_OFS_SOCIAL_STATUS 422
#define KVENDARRES_OFS_BUSINESS 503 /* short string: field of activity */
#define KVENDARRES_OFS_MATERIAL_LEVEL 584
#define KVENDARRES_OFS_TYPE_SCORE1 665 /* four int32 group totals as saved, groups 1..4 */
#define KVENDARRES_SHORT_STRING_MAX 80

/* Text in Windows-1251: length bytes at data (data[length] is 0). An empty text may have a null data. */
typedef struct KvText
{
    const char* data;
    int32_t length;
} KvText;

/* One ranked value. groupNumber is the catalogue group the value belongs to (1..4). */
typedef struct KvResultValue
{
    KvText name;
    int32_t groupNumber;
    KvText groupName;
    int32_t score;
} KvResultValue;

/* One ranked group. number is whatever the result list holds: the catalogue number (1..4) for a
 * live test, the group's 0-based position for a test rebuilt from the database. A module that needs
 * the catalogue group should read groupNumber of the group's values. */
typedef struct KvResultGroup
{
    int32_t number;
    KvText name;
    int32_t score;
    const KvResultValue* values;
    int32_t valueCount;
} KvResultGroup;

/* The ranking: groups by descending score, each group's values by descending score. */
typedef struct KvResultList
{
    const KvResultGroup* groups;
    int32_t count;
} KvResultList;

/* Origins for KvStream.seek, as in fseek. */
#define KVENDARRES_SEEK_SET 0
#define KVENDARRES_SEEK_CUR 1
#define KVENDARRES_SEEK_END 2

/* The program's memory stream, empty and positioned at 0 when BuildResult is called. write and read
 * work at the current position and move it; both return the number of bytes done (write grows the
 * stream as needed). seek returns the new position, or -1 (position unchanged) for a position below 0;
 * seeking past the end is allowed, and a later write fills the gap with zeros. size returns the
 * stream's length.
 *
 * The program reads the document from the stream's CURRENT position when BuildResult returns: a
 * module that writes its document and stops leaves the position at the end, and nothing is shown.
 * Seek back to where the document starts (usually 0) before returning. The document is RTF
 * (starting with "{\rtf") or plain Windows-1251 text. */
typedef struct KvStream
{
    void* context;
    int32_t (*write)(void* context, const void* data, int32_t size);
    int32_t (*read)(void* context, void* data, int32_t size);
    int64_t (*seek)(void* context, int64_t offset, int32_t origin);
    int64_t (*size)(void* context);
} KvStream;

#if defined(_WIN32)
#define KVENDARRES_EXPORT __declspec(dllexport)
#else
#define KVENDARRES_EXPORT __attribute__((visibility("default")))
#endif

/* The entry point, with the platform's C calling convention. testRecord points at a private
 * copy of the record (KVENDARRES_RECORD_SIZE bytes) made for this call only. results is valid for
 * the call only and must not be changed. */
typedef void (*KvBuildResultFn)(const unsigned char* testRecord, const KvResultList* results, KvStream* stream);

KVENDARRES_EXPORT void BuildResult(const unsigned char* testRecord, const KvResultList* results, KvStream* stream);

/* ---- Version 2: consistency and answers -------------------------------------------------------
 *
 * For n compared values with wins a1..an, Kendall's circular triads are
 * d = n(n-1)(2n-1)/12 - (a1^2 + ... + an^2)/2: triples of values whose answers go round in a circle
 * (a preferred to b, b to c, and c to a). maxTriads is the largest d possible for n, zeta the
 * coefficient of consistence 1 - d/maxTriads (1 means no circular triad), and pRandom the
 * probability that answering at random gives d or fewer circular triads. */

/* One answered question, as it stood at the end of the test. */
typedef struct KvAnswer
{
    int32_t question; /* 1..N in the order asked */
    KvText upper;     /* the value on the upper button */
    int32_t upperGroup;
    KvText lower; /* the value on the lower button */
    int32_t lowerGroup;
    int32_t chosen;      /* 1 the upper value, 2 the lower one */
    uint32_t responseMs; /* from the moment the pair was (last) shown to the answer */
} KvAnswer;

/* A circular triad by its values' names: a was preferred to b, b to c and c to a. */
typedef struct KvTriad
{
    KvText a, b, c;
} KvTriad;

/* Where the consistency comes from. */
#define KVENDARRES_CONSISTENCY_NONE 0         /* cannot be computed: the scores are no complete comparison */
#define KVENDARRES_CONSISTENCY_FROM_SCORES 1  /* the test has no saved answers: from the scores, no triads named */
#define KVENDARRES_CONSISTENCY_FROM_ANSWERS 2 /* from the saved answers, circular triads named */

/* The extra data of BuildResultEx. size is the size of this struct as the program that filled it
 * knows it, version its KVENDARRES_EXTRA_VERSION; later versions only append fields, so a module
 * reads a field only when KVENDARRES_EXTRA_HAS says it is there. Every pointer is valid for the call
 * only; counts of 0 come with null pointers. */
#define KVENDARRES_EXTRA_VERSION 1
typedef struct KvResultExtra
{
    uint32_t size;
    uint32_t version;
    int32_t source; /* KVENDARRES_CONSISTENCY_*; with NONE the numbers below are all 0 */
    int32_t n;      /* values compared */
    int64_t triads; /* d */
    int64_t maxTriads;
    double zeta;
    double pRandom;
    int32_t pExact;          /* 1: pRandom is exact; 0: Kendall and Babington Smith's chi-square approximation */
    int32_t circularCount;   /* how many triads are named: the first of the triads, at most 20 of them */
    const KvTriad* circular; /* only with FROM_ANSWERS; triads - circularCount more are not named */
    int32_t answerCount;     /* 0 for a test saved without its answers */
    const KvAnswer* answers; /* in question order */
} KvResultExtra;

#define KVENDARRES_EXTRA_HAS(extra, field)                                                                             \
    ((extra) != NULL && (extra)->size >= offsetof(KvResultExtra, field) + sizeof((extra)->field))

/* The second entry point, looked up first. Arguments as for BuildResult, and extra, valid for the
 * call only. A module that exports it should export BuildResult as well, for older programs. */
typedef void (*KvBuildResultExFn)(const unsigned char* testRecord, const KvResultList* results,
                                  const KvResultExtra* extra, KvStream* stream);

KVENDARRES_EXPORT void BuildResultEx(const unsigned char* testRecord, const KvResultList* results,
                                     const KvResultExtra* extra, KvStream* stream);

#ifdef __cplusplus
}
#endif

#endif /* KVENDARRES_H */
