// Rebuilding a saved test's ranking from its value records.
#include "core/history/ResultRestore.h"
#include "support/HistoryFixtures.h"

#include <QtTest/QtTest>

#include <limits>

using namespace kv;
using kvtest::StoredValue;

namespace {

std::unique_ptr<TvsDBValueList> ValueList(std::initializer_list<StoredValue> values)
{
    auto list = std::make_unique<TvsDBValueList>();
    const QByteArray bytes = kvtest::ValueRecords(values);
    for (qsizetype at = 0; at < bytes.size(); at += TvsDBValueRec::kSize) {
        auto rec = std::make_unique<TvsDBValueRec>();
        std::copy_n(bytes.constData() + at, TvsDBValueRec::kSize, rec->bytes.begin());
        list->Append(std::move(rec));
    }
    return list;
}

// "name=score[value=score,...]" per group, so a whole ranking compares in one line.
QString Describe(const TvsValueTypeList& result)
{
    QStringList groups;
    for (int g = 0; g < result.Count(); ++g) {
        const TvsValueTypeRec& group = result.Items(g);
        QStringList values;
        for (int v = 0; v < group.Values->Count(); ++v) {
            const TvsValueRec& value = group.Values->Items(v);
            values << QStringLiteral("%1/%2/%3=%4")
                          .arg(value.Name)
                          .arg(value.TypeNumber)
                          .arg(value.TypeName)
                          .arg(value.Score);
        }
        groups << QStringLiteral("#%1 %2=%3[%4]")
                      .arg(group.Number)
                      .arg(group.Name)
                      .arg(group.Score)
                      .arg(values.join(u','));
    }
    return groups.join(u' ');
}

} // namespace

class TestTestGridRestore : public QObject
{
    Q_OBJECT

private slots:
    void rebuild_data()
    {
        QTest::addColumn<QStringList>("catalogue");
        QTest::addColumn<QString>("expected");
        const QStringList shipped = kvtest::ShippedGroupNames();
        QTest::newRow("groups 2, 4, 2: two groups by first mention, values in file order")
            << shipped
            << QStringLiteral("#0 Материальные ценности=7[Деньги/2/Материальные ценности=5,Дом/2/Материальные "
                              "ценности=2] #1 Витальные ценности=3[Здоровье/4/Витальные ценности=3]");
        QStringList renamed = shipped;
        renamed[1] = QStringLiteral("Богатство");
        QTest::newRow("a renamed group shows its new name")
            << renamed
            << QStringLiteral("#0 Богатство=7[Деньги/2/Богатство=5,Дом/2/Богатство=2] #1 Витальные "
                              "ценности=3[Здоровье/4/Витальные ценности=3]");
        QStringList twins = shipped;
        twins[3] = twins[1];
        QTest::newRow("two catalogue groups of one name merge")
            << twins
            << QStringLiteral("#0 Материальные ценности=10[Деньги/2/Материальные ценности=5,Здоровье/4/Материальные "
                              "ценности=3,Дом/2/Материальные ценности=2]");
        QStringList caseOnly = shipped;
        caseOnly[3] = QStringLiteral("материальные ценности");
        QTest::newRow("names differing in case stay apart")
            << caseOnly
            << QStringLiteral("#0 Материальные ценности=7[Деньги/2/Материальные ценности=5,Дом/2/Материальные "
                              "ценности=2] #1 материальные ценности=3[Здоровье/4/материальные ценности=3]");
    }

    void rebuild()
    {
        QFETCH(QStringList, catalogue);
        QFETCH(QString, expected);
        TvsValueTypeList valueTypes;
        kvtest::FillCatalogue(valueTypes, catalogue);
        const auto values = ValueList({{1, 2, QStringLiteral("Деньги"), 5},
                                       {1, 4, QStringLiteral("Здоровье"), 3},
                                       {1, 2, QStringLiteral("Дом"), 2}});
        TvsValueTypeList result;
        RestoreResults(*values, result, valueTypes);
        QCOMPARE(Describe(result), expected);
        QVERIFY(result.Items(0).ItemsFile.isEmpty());
    }

    // Nothing is sorted: a file whose order is not the ranking comes back in file order.
    void keepsFileOrderEvenWhenUnsorted()
    {
        TvsValueTypeList valueTypes;
        kvtest::FillCatalogue(valueTypes, kvtest::ShippedGroupNames());
        const auto values = ValueList({{1, 1, QStringLiteral("Мало"), 1},
                                       {1, 3, QStringLiteral("Много"), 9},
                                       {1, 1, QStringLiteral("Больше"), 4}});
        TvsValueTypeList result;
        RestoreResults(*values, result, valueTypes);
        QCOMPARE(Describe(result),
                 QStringLiteral("#0 Идеологические ценности=5[Мало/1/Идеологические ценности=1,Больше/1/"
                                "Идеологические ценности=4] #1 Эмоциональные ценности=9[Много/3/Эмоциональные "
                                "ценности=9]"));
    }

    // Scores come from a file that may be damaged: totals are summed wide and a total that no group
    // score can hold is refused instead of wrapping round.
    void extremeStoredScores_data()
    {
        QTest::addColumn<qint32>("first");
        QTest::addColumn<qint32>("second");
        QTest::addColumn<bool>("refused");
        const qint32 max = std::numeric_limits<qint32>::max();
        const qint32 min = std::numeric_limits<qint32>::min();
        QTest::newRow("two maxima overflow") << max << max << true;
        QTest::newRow("max plus one overflows") << max << 1 << true;
        QTest::newRow("two minima underflow") << min << min << true;
        QTest::newRow("max and zero fit") << max << 0 << false;
        QTest::newRow("max and min fit") << max << min << false;
    }

    void extremeStoredScores()
    {
        QFETCH(qint32, first);
        QFETCH(qint32, second);
        QFETCH(bool, refused);
        TvsValueTypeList valueTypes;
        kvtest::FillCatalogue(valueTypes, kvtest::ShippedGroupNames());
        const auto values = ValueList({{1, 2, QStringLiteral("Деньги"), first}, {1, 2, QStringLiteral("Дом"), second}});
        TvsValueTypeList result;
        const qint64 total = qint64(first) + second;
        if (refused) {
            try {
                RestoreResults(*values, result, valueTypes);
                QFAIL("no error raised");
            } catch (const Error& e) {
                QVERIFY2(e.message().contains(QStringLiteral("повреждены")), qPrintable(e.message()));
                QVERIFY2(e.message().contains(QString::number(total)), qPrintable(e.message()));
            }
            return;
        }
        RestoreResults(*values, result, valueTypes);
        QCOMPARE(qint64(result.Items(0).Score), total);
    }

    void groupNumberOutsideCatalogue_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<int>("groups");
        QTest::addColumn<QString>("message");
        QTest::newRow("number 0") << 0 << 4 << QStringLiteral("List index out of bounds (-1)");
        QTest::newRow("number 5") << 5 << 4 << QStringLiteral("List index out of bounds (4)");
        QTest::newRow("catalogue of three, number 4") << 4 << 3 << QStringLiteral("List index out of bounds (3)");
    }

    void groupNumberOutsideCatalogue()
    {
        QFETCH(int, number);
        QFETCH(int, groups);
        QFETCH(QString, message);
        TvsValueTypeList valueTypes;
        kvtest::FillCatalogue(valueTypes, kvtest::ShippedGroupNames().mid(0, groups));
        TvsValueTypeList result;
        try {
            FindResultGroup(number, result, valueTypes);
            QFAIL("no error raised");
        } catch (const Error& e) {
            QCOMPARE(e.message(), message);
        }
        QCOMPARE(result.Count(), 0);
    }

    // FindResultGroup finds the group it added, and gives a group without values a list.
    void findReturnsTheSameGroupAndCreatesValues()
    {
        TvsValueTypeList valueTypes;
        kvtest::FillCatalogue(valueTypes, kvtest::ShippedGroupNames());
        TvsValueTypeList result;
        result.Add(QStringLiteral("Витальные ценности"), QString()); // as if added without a value list
        TvsValueTypeRec& vital = FindResultGroup(4, result, valueTypes);
        QCOMPARE(&vital, &result.Items(0));
        QVERIFY(vital.Values != nullptr);
        TvsValueTypeRec& first = FindResultGroup(1, result, valueTypes);
        QCOMPARE(result.Count(), 2);
        QCOMPARE(first.Number, 1);
        QCOMPARE(&FindResultGroup(1, result, valueTypes), &first);
    }
};

QTEST_GUILESS_MAIN(TestTestGridRestore)
#include "test_testgrid_restore.moc"
