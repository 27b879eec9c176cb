#pragma once

#include "core/storage/uvsDataBase.h"

namespace kv {

// Where each field of the three record files sits: the record classes read them through these, and
// a pass over a whole file that takes a few fields straight from the bytes it read uses the same.
namespace layout {

constexpr int kShortStringSize = 81;
constexpr int kShortStringChars = 80;

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

} // namespace layout

} // namespace kv
