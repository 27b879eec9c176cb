#pragma once

// A hand-made database of four respondents for the summary's tests, written into a folder.
#include "core/platform/Codec.h"
#include "core/storage/uvsDataBase.h"

#include <QDateTime>
#include <QFile>
#include <QtEndian>

#include <array>
#include <cstring>

namespace kvtest {

struct Respondent
{
    quint32 id;
    quint8 sex;
    qint32 age;
    QDateTime saved;
    std::array<const char16_t*, 7>
        answers; // Social, Children, PlaceOfLiving, Education, SocialStatus, Bussines, MaterialLevel
    std::array<qint32, 4> points;
};

struct Won
{
    quint32 test;
    quint8 group;
    const char16_t* name;
    qint32 wins;
};

struct Answered
{
    quint32 test;
    quint8 upperGroup;
    const char16_t* upper;
    quint8 lowerGroup;
    const char16_t* lower;
    quint8 chosen;
};

inline constexpr const char16_t* kNo = u"Нет ответа";

// Four respondents. 1: three values, A 2, B 1, C nothing. 2: three values in a circle, one win each.
// 3: four values in a strict order D > A > B > C, with its answer log. 4: points that no complete
// comparison gives (4 is not n(n-1)/2), so its number of values cannot be told.
inline const Respondent kRespondents[] = {
    {1,
     1,
     30,
     QDateTime(QDate(2024, 3, 1), QTime(10, 0)),
     {u"Холост", kNo, kNo, u"Высшее", kNo, kNo, u"Средний"},
     {2, 1, 0, 0}},
    {2,
     2,
     45,
     QDateTime(QDate(2024, 6, 15), QTime(23, 30)),
     {u"Женат / замужем", kNo, u"Москва", u"Высшее", kNo, kNo, kNo},
     {2, 1, 0, 0}},
    {3,
     1,
     0,
     QDateTime(QDate(2025, 1, 10), QTime(0, 15)),
     {u"Холост", kNo, kNo, u"Среднее", kNo, kNo, kNo},
     {2, 1, 3, 0}},
    {4,
     0,
     20,
     QDateTime(QDate(2025, 2, 1), QTime(12, 0)),
     {kNo, u"Один ребенок", kNo, kNo, u"Рабочий", u"СМИ", u"Средний"},
     {4, 0, 0, 0}},
};

inline const Won kWins[] = {
    {1, 1, u"A", 2}, {1, 2, u"B", 1},                  //
    {2, 1, u"A", 1}, {2, 1, u"C", 1}, {2, 2, u"B", 1}, //
    {3, 3, u"D", 3}, {3, 1, u"A", 2}, {3, 2, u"B", 1}, //
    {4, 1, u"A", 4},
};

inline const Answered kAnswers[] = {
    {3, 3, u"D", 1, u"A", 1}, {3, 2, u"B", 3, u"D", 2}, {3, 1, u"C", 3, u"D", 2}, {3, 1, u"A", 2, u"B", 1},
    {3, 1, u"C", 1, u"A", 2}, {3, 2, u"B", 1, u"C", 1}, {3, 1, u"A", 1, u"C", 7}, // a damaged choice
    {9, 1, u"A", 1, u"C", 1},                                                     // a test that is not in tests.dat
};

inline void PutShort(char* at, const QString& text)
{
    const QByteArray bytes = kv::ToCp1251(text);
    at[0] = char(bytes.size());
    std::memcpy(at + 1, bytes.constData(), size_t(bytes.size()));
}

inline bool WriteFile(const QString& name, const QByteArray& bytes)
{
    QFile file(name);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

inline bool WriteDatabase(const QString& dir, bool withAnswers)
{
    QByteArray tests, values, answers;
    for (const Respondent& r : kRespondents) {
        kv::TvsDBTestRec rec;
        rec.SetId(r.id);
        rec.SetFio(QStringLiteral("Респондент %1").arg(r.id));
        rec.SetSex(r.sex);
        rec.SetAge(r.age);
        rec.SetDate(kv::DateTimeToRecordDate(r.saved));
        rec.SetSocial(QString::fromUtf16(r.answers[0]));
        rec.SetChildren(QString::fromUtf16(r.answers[1]));
        rec.SetPlaceOfLiving(QString::fromUtf16(r.answers[2]));
        rec.SetEducation(QString::fromUtf16(r.answers[3]));
        rec.SetSocialStatus(QString::fromUtf16(r.answers[4]));
        rec.SetBussines(QString::fromUtf16(r.answers[5]));
        rec.SetMaterialLevel(QString::fromUtf16(r.answers[6]));
        for (int g = 0; g < 4; ++g)
            rec.SetTypeScore(g + 1, r.points[size_t(g)]);
        tests.append(rec.bytes.data(), kv::TvsDBTestRec::kSize);
    }
    qint32 id = 1;
    for (const Won& w : kWins) {
        kv::TvsDBValueRec rec;
        rec.SetId(id++);
        rec.SetTestId(qint32(w.test));
        rec.SetTypeNumber(w.group);
        rec.SetScore(w.wins);
        rec.SetName(QString::fromUtf16(w.name));
        values.append(rec.bytes.data(), kv::TvsDBValueRec::kSize);
    }
    quint32 question = 1;
    for (const Answered& a : kAnswers) {
        char rec[181] = {};
        qToLittleEndian<quint32>(question, rec);
        qToLittleEndian<quint32>(a.test, rec + 4);
        qToLittleEndian<quint32>(question++, rec + 8);
        rec[12] = char(a.upperGroup);
        PutShort(rec + 13, QString::fromUtf16(a.upper));
        rec[94] = char(a.lowerGroup);
        PutShort(rec + 95, QString::fromUtf16(a.lower));
        rec[176] = char(a.chosen);
        qToLittleEndian<quint32>(1500, rec + 177);
        answers.append(rec, sizeof rec);
    }
    return WriteFile(dir + QStringLiteral("/tests.dat"), tests) &&
           WriteFile(dir + QStringLiteral("/values.dat"), values) &&
           (!withAnswers || WriteFile(dir + QStringLiteral("/answers.dat"), answers));
}

} // namespace kvtest
