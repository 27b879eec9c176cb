// What the shipped interpretation module writes when scores tie, when groups took part without a win,
// and when a test has more circular triads than are named. The module is loaded as the program loads
// it and its RTF is read back as text.
#include "core/analysis/Consistency.h"
#include "core/catalogue/uvsValues.h"
#include "core/interpretation/ModuleBridge.h"
#include "core/platform/Library.h"
#include "core/platform/RtfDocument.h"
#include "core/storage/uvsDataBase.h"

#include <QFileInfo>
#include <QtTest/QtTest>

#include <memory>
#include <vector>

using namespace Qt::StringLiterals;
using namespace kv;

namespace {

struct Group
{
    qint32 number;
    QString name;
    std::vector<std::pair<QString, qint32>> values; // by descending wins, as a result list holds them
};

const QString kNames[] = {u"Идейные ценности"_s, u"Материальные ценности"_s, u"Эмоциональные ценности"_s,
                          u"Витальные ценности"_s};

// A result list of the groups given, in their order (the caller orders them by score).
void Fill(TvsValueTypeList& list, const std::vector<Group>& groups)
{
    for (const Group& g : groups) {
        TvsValueTypeRec& rec = list.Items(list.Add(g.name, QString()));
        rec.Number = g.number;
        rec.Values = std::make_unique<TvsValueList>();
        for (const auto& [name, wins] : g.values) {
            rec.Values->Items(rec.Values->Add(name, g.number, g.name)).Score = wins;
            rec.Score += wins;
        }
    }
}

class Module
{
public:
    Module()
    {
        const QFileInfo file(QStringLiteral(KVENDAR_REAL_MODULE));
        if (m_library.Open(file.absolutePath() + u'/', file.fileName()))
            m_build = reinterpret_cast<KvBuildResultExFn>(m_library.Symbol("BuildResultEx"));
    }
    bool ok() const { return m_build != nullptr; }

    QString Text(const TvsValueTypeList& list, const TvsConsistency& consistency, const TvsAnswerLog* answers)
    {
        TvsDBTestRec rec;
        rec.SetFio(u"Петрова Анна"_s);
        const ModuleResultList results(list);
        const ModuleExtra extra(consistency, answers);
        ModuleStream stream;
        m_build(reinterpret_cast<const unsigned char*>(rec.bytes.data()), results.data(), extra.data(),
                stream.stream());
        const std::optional<RtfDocument> document = ParseRtf(stream.fromPosition());
        return document ? document->plainText() : QString();
    }

private:
    Library m_library;
    KvBuildResultExFn m_build = nullptr;
};

// Every pair of the given values answered, the earlier value winning unless `upset` names the pair
// (by the values' positions) the other way round.
TvsAnswerLog Answers(const std::vector<std::pair<QString, qint32>>& values,
                     const std::vector<std::pair<int, int>>& upsets = {})
{
    TvsAnswerLog log;
    for (std::size_t i = 0; i < values.size(); ++i)
        for (std::size_t j = i + 1; j < values.size(); ++j) {
            TvsAnswer a;
            a.Question = qint32(log.size()) + 1;
            a.Upper = values[i].first;
            a.UpperGroup = values[i].second;
            a.Lower = values[j].first;
            a.LowerGroup = values[j].second;
            const bool upset = std::find(upsets.begin(), upsets.end(), std::pair{int(i), int(j)}) != upsets.end();
            a.Chosen = upset ? 2 : 1;
            a.ResponseMs = 1000;
            log.push_back(a);
        }
    return log;
}

} // namespace

class TestModuleText : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!Module().ok())
            QFAIL("the shipped module did not load");
    }

    // Groups tied for the lead are all named as leading, and tied groups share their place.
    void tiedGroups_data()
    {
        QTest::addColumn<int>("tied");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QStringList>("absent");
        QTest::newRow("two") << 2
                             << QStringList{u"Столько же набрала группа Материальные ценности, поэтому обе группы "
                                            u"стоит считать ведущими."_s,
                                            u"Эта группа делит первое место с группой Материальные ценности."_s,
                                            u"Эта группа делит первое место с группой Идейные ценности."_s,
                                            u"Эта группа на 3-м месте."_s}
                             << QStringList{u"на 2-м месте"_s};
        QTest::newRow("three") << 3
                               << QStringList{u"Столько же набрали группы Материальные ценности и Эмоциональные "
                                              u"ценности, поэтому все три группы стоит считать ведущими."_s,
                                              u"Эта группа делит первое место с группами Материальные ценности и "
                                              u"Эмоциональные ценности."_s,
                                              u"Эта группа делит первое место с группами Идейные ценности и "
                                              u"Эмоциональные ценности."_s,
                                              u"Эта группа на 4-м месте."_s,
                                              u"делятся почти поровну между группами Идейные ценности, Материальные "
                                              u"ценности и Эмоциональные ценности: все эти стороны"_s}
                               << QStringList{u"обе группы"_s, u"на 2-м месте"_s, u"на 3-м месте"_s, u"обе стороны"_s};
    }
    void tiedGroups()
    {
        QFETCH(int, tied);
        QFETCH(QStringList, expected);
        QFETCH(QStringList, absent);
        // Four groups; the first `tied` have 5 points each, the last fewer.
        std::vector<Group> groups;
        for (int g = 0; g < tied; ++g)
            groups.push_back({g + 1, kNames[g], {{u"Ценность %1"_s.arg(g + 1), 5}}});
        groups.push_back({4, kNames[3], {{u"Здоровье"_s, 1}}});
        TvsValueTypeList list;
        Fill(list, groups);
        const QString text = Module().Text(list, TvsConsistency(), nullptr);
        for (const QString& part : expected)
            QVERIFY2(text.contains(part), qPrintable(part + u"\n---\n"_s + text));
        for (const QString& part : absent)
            QVERIFY2(!text.contains(part), qPrintable(part + u"\n---\n"_s + text));
    }

    // Values with as many choices share their number in the list of leading values.
    void valuesTiedForFirst()
    {
        TvsValueTypeList list;
        Fill(list, {{2, kNames[1], {{u"Деньги"_s, 3}, {u"Дом"_s, 3}, {u"Работа"_s, 1}}},
                    {4, kNames[3], {{u"Здоровье"_s, 3}}}});
        const QString text = Module().Text(list, TvsConsistency(), nullptr);
        for (const QString& part : {u"1. Деньги — 3 выбора"_s, u"1. Дом — 3 выбора"_s, u"1. Здоровье — 3 выбора"_s})
            QVERIFY2(text.contains(part), qPrintable(part + u"\n---\n"_s + text));
        QVERIFY2(!text.contains(u"2. "_s) && !text.contains(u"3. "_s), qPrintable(text));
    }

    // Groups are spoken of as having lost only when the answers show that they took part; without
    // answers nothing is said of groups outside the result.
    void groupsWithoutWins_data()
    {
        QTest::addColumn<bool>("withAnswers");
        QTest::addColumn<bool>("said");
        QTest::newRow("answers with a group that never won") << true << true;
        QTest::newRow("no answers") << false << false;
    }
    void groupsWithoutWins()
    {
        QFETCH(bool, withAnswers);
        QFETCH(bool, said);
        const std::vector<std::pair<QString, qint32>> chosen = {
            {u"Деньги"_s, 2}, {u"Дом"_s, 2}, {u"Здоровье"_s, 4}, {u"Свобода"_s, 1}};
        const TvsAnswerLog log = Answers(chosen);
        TvsValueTypeList list;
        Fill(list, {{2, kNames[1], {{u"Деньги"_s, 3}, {u"Дом"_s, 2}}}, {4, kNames[3], {{u"Здоровье"_s, 1}}}});
        const QString text = Module().Text(list, ConsistencyFromAnswers(log), withAnswers ? &log : nullptr);
        QCOMPARE(text.contains(u"ни разу не победили"_s), said);
        // Two groups were never chosen at all; no sentence may claim they lost.
        QVERIFY2(!text.contains(u"остальных"_s), qPrintable(text));
        if (said)
            QVERIFY2(text.contains(u"Ценности ещё одной выбранной Вами группы ни разу не победили"_s),
                     qPrintable(text));
    }

    // Only the first triads are named; the rest are counted.
    void triadsBeyondTheNamed()
    {
        // Twelve values, each beating the ones after it except those an even number of places on,
        // which beat it: far more circular triads than are named.
        std::vector<std::pair<QString, qint32>> chosen;
        for (int i = 0; i < 12; ++i)
            chosen.push_back({u"Ценность %1"_s.arg(i + 1), i % 4 + 1});
        std::vector<std::pair<int, int>> upsets;
        for (int i = 0; i < 12; ++i)
            for (int j = i + 2; j < 12; j += 2)
                upsets.push_back({i, j});
        const TvsAnswerLog log = Answers(chosen, upsets);
        const TvsConsistency c = ConsistencyFromAnswers(log);
        QVERIFY(c.Valid);
        QVERIFY2(c.Triads > kNamedTriadsAtMost, qPrintable(QString::number(c.Triads)));
        QCOMPARE(qint64(c.Circular.size()), kNamedTriadsAtMost);
        TvsValueTypeList list;
        Fill(list, {{1, kNames[0], {{u"Ценность 1"_s, 1}}}});
        const QString text = Module().Text(list, c, &log);
        QCOMPARE(text.count(u"» важнее «"_s), 3 * int(kNamedTriadsAtMost));
        const qint64 more = c.Triads - kNamedTriadsAtMost;
        QVERIFY2(text.contains(u"и ещё %1 противоречив"_s.arg(more)), qPrintable(text));
    }
};

QTEST_GUILESS_MAIN(TestModuleText)
#include "test_module_text.moc"
