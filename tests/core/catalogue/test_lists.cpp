// Owning lists: numbering, ownership, index errors and the quicksort's order for equal keys.
#include "core/catalogue/uvsValues.h"

#include <QtTest/QtTest>

using namespace kv;

namespace {

QStringList Names(const TvsValueList& list)
{
    QStringList names;
    for (int i = 0; i < list.Count(); ++i)
        names.append(list.Items(i).Name);
    return names;
}

QStringList Split(const char* names)
{
    return QString::fromLatin1(names).split(u' ', Qt::SkipEmptyParts);
}

int ByScoreDescending(const TvsValueRec& a, const TvsValueRec& b)
{
    return a.Score > b.Score ? -1 : (a.Score < b.Score ? 1 : 0);
}

// Counts live instances so that a test can see every record released.
struct Tracked
{
    static inline int alive = 0;
    int key = 0;
    explicit Tracked(int k) : key(k) { ++alive; }
    ~Tracked() { --alive; }
};

} // namespace

class TestLists : public QObject
{
    Q_OBJECT

private slots:
    void addNumbersAndFields()
    {
        TvsValueTypeList groups;
        QCOMPARE(groups.Add(QStringLiteral("A"), QStringLiteral("a.txt")), 0);
        QCOMPARE(groups.Add(QStringLiteral("B"), QString()), 1);
        QCOMPARE(groups.Add(QStringLiteral("C"), QString()), 2);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(groups.Items(i).Number, i);
            QCOMPARE(groups.Items(i).Score, 0);
            QVERIFY(!groups.Items(i).Values);
        }
        QCOMPARE(groups.Items(0).ItemsFile, QStringLiteral("a.txt"));

        TvsValueList values;
        QCOMPARE(values.Add(QString(), 3, QStringLiteral("G")), 0);
        QCOMPARE(values.Items(0).Name, QString());
        QCOMPARE(values.Items(0).TypeNumber, 3);
        QCOMPARE(values.Items(0).TypeName, QStringLiteral("G"));
        QCOMPARE(values.Items(0).Score, 0);
    }

    void itemsIsByReferenceCopyIsIndependent()
    {
        TvsValueList values;
        values.Add(QStringLiteral("x"), 1, QString());
        values.Items(0).Score = 5;
        TvsValueRec copy = values.Items(0);
        copy.Score = 9;
        copy.Name = QStringLiteral("y");
        QCOMPARE(values.Items(0).Score, 5);
        QCOMPARE(values.Items(0).Name, QStringLiteral("x"));
    }

    void deleteMovesLaterItemsDown()
    {
        TvsValueList values;
        for (const char* n : {"a", "b", "c"})
            values.Add(QLatin1String(n), 1, QString());
        values.Delete(0);
        QCOMPARE(Names(values), QStringList({QStringLiteral("b"), QStringLiteral("c")}));
        values.Delete(1);
        values.Delete(0);
        QCOMPARE(values.Count(), 0);
    }

    void indexErrorsLeaveListUnchanged_data()
    {
        QTest::addColumn<int>("index");
        QTest::newRow("negative") << -1;
        QTest::newRow("count") << 2;
        QTest::newRow("far") << 100;
    }

    void indexErrorsLeaveListUnchanged()
    {
        QFETCH(int, index);
        TvsValueList values;
        values.Add(QStringLiteral("a"), 1, QString());
        values.Add(QStringLiteral("b"), 1, QString());
        const QString expected = QStringLiteral("List index out of bounds (%1)").arg(index);
        for (const auto& op : std::initializer_list<std::function<void()>>{[&] { values.Items(index); },
                                                                           [&] { values.Delete(index); }}) {
            try {
                op();
                QFAIL("no index error");
            } catch (const ListIndexError& e) {
                QCOMPARE(e.message(), expected);
            }
            QCOMPARE(Names(values), QStringList({QStringLiteral("a"), QStringLiteral("b")}));
        }
    }

    void clearAndDestroyReleaseEverything()
    {
        Tracked::alive = 0;
        {
            TvsList<Tracked> list;
            list.Clear(); // empty: nothing happens
            for (int i = 0; i < 4; ++i)
                list.Append(std::make_unique<Tracked>(i));
            list.Delete(1);
            QCOMPARE(Tracked::alive, 3);
            list.Clear();
            QCOMPARE(Tracked::alive, 0);
            QCOMPARE(list.Count(), 0);
            list.Append(std::make_unique<Tracked>(7));
        }
        QCOMPARE(Tracked::alive, 0);
    }

    void groupOwnsItsValues()
    {
        TvsValueTypeList groups;
        groups.Add(QStringLiteral("no values"), QString());
        TvsValueTypeRec& g = groups.Items(groups.Add(QStringLiteral("with values"), QString()));
        g.Values = std::make_unique<TvsValueList>();
        g.Values->Add(QStringLiteral("v"), 2, g.Name);
        groups.Clear(); // ASan reports a leak if the nested list were not released
        QCOMPARE(groups.Count(), 0);
    }

    void quicksortOrder_data()
    {
        QTest::addColumn<QList<int>>("scores");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("two equal reversed") << QList<int>{1, 1} << Split("v1 v0");
        QTest::newRow("three equal: third, second, first") << QList<int>{2, 2, 2} << Split("v2 v1 v0");
        QTest::newRow("descending") << QList<int>{1, 3, 2} << Split("v1 v2 v0");
        QTest::newRow("already sorted") << QList<int>{3, 2, 1} << Split("v0 v1 v2");
        QTest::newRow("ties among others") << QList<int>{2, 5, 2, 5} << Split("v3 v1 v0 v2");
        QTest::newRow("one") << QList<int>{4} << Split("v0");
        QTest::newRow("empty") << QList<int>{} << Split("");
    }

    void quicksortOrder()
    {
        QFETCH(QList<int>, scores);
        QFETCH(QStringList, expected);
        TvsValueList values;
        for (int i = 0; i < scores.size(); ++i)
            values.Items(values.Add(QStringLiteral("v%1").arg(i), 1, QString())).Score = scores.at(i);
        values.Sort(ByScoreDescending);
        QCOMPARE(Names(values), expected);
    }

    void quicksortSortsLargeInputs()
    {
        TvsValueList values;
        for (int i = 0; i < 500; ++i)
            values.Items(values.Add(QString::number(i), 1, QString())).Score = (i * 7919) % 101;
        values.Sort(ByScoreDescending);
        for (int i = 1; i < values.Count(); ++i)
            QVERIFY(values.Items(i - 1).Score >= values.Items(i).Score);
        QCOMPARE(values.Count(), 500);
    }
};

QTEST_GUILESS_MAIN(TestLists)
#include "test_lists.moc"
