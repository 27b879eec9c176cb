#pragma once

#include "core/storage/uvsDataBase.h"

#include <QByteArrayView>

#include <algorithm>
#include <cmath>

namespace kv {

// Where each field of the three record files sits: the record classes read them through these, and
// a pass over a whole file that takes a few fields straight from the bytes it read uses the same.
namespace layout {

constexpr int kShortStringSize = 81;
constexpr int kShortStringChars = 80;

// The text bytes of the short string stored at `at`: as many as its length byte says, and never
// more than the 80 there are.
inline QByteArrayView ShortStringAt(const char* at)
{
    return QByteArrayView(at + 1, std::min<int>(static_cast<quint8>(*at), kShortStringChars));
}

// Offsets of the test record's fields.
constexpr int kTestId = 0;
constexpr int kTestFio = 4;
constexpr int kTestDate = 85;
constexpr int kTestAge = 93;
constexpr int kTestSex = 97;
constexpr int kTestSocial = 98;
constexpr int kTestChildren = 179;
constexpr int kTestPlaceOfLiving = 260;
constexpr int kTestEducation = 341;
constexpr int kTestSocialStatus = 422;
constexpr int kTestBussines = 503;
constexpr int kTestMaterialLevel = 584;
constexpr int kTestTypeScore1 = 665;

// Offsets of the value record's fields.
constexpr int kValueId = 0;
constexpr int kValueTestId = TvsDBValueRec::kTestIdOffset;
constexpr int kValueTypeNumber = TvsDBValueRec::kTypeNumberOffset;
constexpr int kValueScore = TvsDBValueRec::kScoreOffset;
constexpr int kValueName = 13;

// Offsets of the answer record's fields.
constexpr int kAnswerId = 0;
constexpr int kAnswerTestId = 4;
constexpr int kAnswerQuestion = 8;
constexpr int kAnswerUpperGroup = 12;
constexpr int kAnswerUpper = 13;
constexpr int kAnswerLowerGroup = 94;
constexpr int kAnswerLower = 95;
constexpr int kAnswerChosen = 176;
constexpr int kAnswerResponseMs = 177;

static_assert(kTestTypeScore1 + 4 * 4 == TvsDBTestRec::kSize);
static_assert(kValueName + kShortStringSize == TvsDBValueRec::kSize);
static_assert(kAnswerUpper + kShortStringSize == kAnswerLowerGroup);
static_assert(kAnswerLower + kShortStringSize == kAnswerChosen);
static_assert(kAnswerResponseMs + 4 == TvsDBAnswerRec::kSize);

// A stored date taken apart as a calendar reads it: whole days since 1899-12-30 and milliseconds
// into that day. Before the epoch the whole part counts back while the fraction still counts
// forward from midnight, and a time that rounds to midnight belongs to the next day. False for a
// number that is no date of the years 1 to 9999 (NaN, infinities, year 0, year 10000 ...): the one
// rule by which the history, the summary, check and every export tell a date from damage, so that
// a date check accepts is one each export can write.
inline constexpr qint64 kFirstRecordDay = -693593; // 0001-01-01
inline constexpr qint64 kLastRecordDay = 2958465;  // 9999-12-31
inline bool SplitRecordDate(double date, qint64& days, qint32& ms)
{
    constexpr qint64 kMsPerDay = 86400000;
    if (!std::isfinite(date) || std::fabs(date) > 1e9)
        return false;
    const double whole = std::trunc(date);
    qint64 time = std::llround(std::fabs(date - whole) * double(kMsPerDay));
    days = qint64(whole);
    if (time >= kMsPerDay) {
        time -= kMsPerDay;
        days += date >= 0 ? 1 : -1;
    }
    ms = qint32(time);
    return days >= kFirstRecordDay && days <= kLastRecordDay;
}

} // namespace layout

} // namespace kv
