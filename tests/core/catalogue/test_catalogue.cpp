// Catalogue reading: config.ini stop rules, item-file line breaks, and what appending a value leaves
// in its file.
#include "core/catalogue/Catalogue.h"
#include "support/CoreSupport.h"

#include <QtTest/QtTest>

using namespace kv;
using kvtest::Cp;

namespace {

// "name:value|value;name:..." for every group read, so a table row states the whole outcome.
QString Describe(const TvsValueTypeList& groups)
{
    QStringList parts;
    for (int g = 0; g < groups.Count(); ++g) {
        const TvsValueTypeRec& group = groups.Items(g);
        QStringList values;
        if (group.Values)
            for (int v = 0; v < group.Values->Count(); ++v) {
                const TvsValueRec& value = group.Values->Items(v);
                if (value.TypeNumber != group.Number || value.TypeName != group.Name)
                    return QStringLiteral("bad value fields in group %1").arg(g);
                values.append(value.Name);
            }
        parts.append(QStringLiteral("%1=%2:%3").arg(group.Number).arg(group.Name, values.join(u'|')));
    }
    return parts.join(u';');
}

QByteArray Config(const QByteArray& valueTypes, const QByteArray& main = "[MAIN]\r\nLines=lines.txt\r\n")
{
    return main + "[ValueTypes]\r\n" + valueTypes;
}

const QByteArray kFourGroups = "ValueTypeName1=G1\r\nValueTypeItems1=g1.txt\r\n"
                               "ValueTypeName2=G2\r\nValueTypeItems2=g2.txt\r\n"
                               "ValueTypeName3=G3\r\nValueTypeItems3=g3.txt\r\n"
                               "ValueTypeName4=G4\r\nValueTypeItems4=g4.txt\r\n";

} // namespace

class TestCatalogue : public QObject
{
    Q_OBJECT

private slots:
    void lineBreaks_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("lines");
        const auto L = [](const char* joined) { return QString::fromLatin1(joined).split(u'|'); };
        QTest::newRow("CR LF") << QByteArray("a\r\nb\r\nc") << L("a|b|c");
        QTest::newRow("lone CR") << QByteArray("a\rb") << L("a|b");
        QTest::newRow("lone LF") << QByteArray("a\nb") << L("a|b");
        QTest::newRow("mixed") << QByteArray("a\rb\nc\r\nd") << L("a|b|c|d");
        QTest::newRow("final break adds no line") << QByteArray("a\r\nb\r\n") << L("a|b");
        QTest::newRow("empty line in the middle") << QByteArray("a\r\n\r\nb") << L("a||b");
        QTest::newRow("LF CR is two breaks") << QByteArray("a\n\rb") << L("a||b");
        QTest::newRow("NUL ends the text") << QByteArray("a\r\nb\0c\r\nd", 10) << L("a|b");
        QTest::newRow("blanks kept") << QByteArray(" a \r\n\tb") << L(" a |\tb");
        QTest::newRow("empty file") << QByteArray() << QStringList();
        QTest::newRow("only a break") << QByteArray("\r\n") << L("");
        QTest::newRow("cyrillic") << Cp(QStringLiteral("Любовь\r\nДружба"))
                                  << QStringList{QStringLiteral("Любовь"), QStringLiteral("Дружба")};
    }

    void lineBreaks()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, lines);
        QCOMPARE(SplitItemLines(bytes), lines);
    }

    void stopRules_data()
    {
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<QStringList>("missingItemFiles");
        QTest::addColumn<QString>("groups");
        QTest::addColumn<QString>("lines");
        const QStringList none;
        QTest::newRow("four groups") << Config(kFourGroups) << none << "1=G1:a|b;2=G2:c;3=G3:d;4=G4:e"
                                     << "lines.txt";
        QTest::newRow("name 3 missing") << Config(QByteArray(kFourGroups).replace("ValueTypeName3=G3\r\n", "")) << none
                                        << "1=G1:a|b;2=G2:c"
                                        << "lines.txt";
        QTest::newRow("items 2 missing") << Config(QByteArray(kFourGroups).replace("ValueTypeItems2=g2.txt\r\n", ""))
                                         << none << "1=G1:a|b"
                                         << "lines.txt";
        QTest::newRow("value equal to the sentinel counts as missing")
            << Config(QByteArray(kFourGroups).replace("=G2", "=NOFUCKINGWAY")) << none << "1=G1:a|b"
            << "lines.txt";
        QTest::newRow("sentinel in another case is a name")
            << Config(QByteArray(kFourGroups).replace("=G2", "=nofuckingway")) << none
            << "1=G1:a|b;2=nofuckingway:c;3=G3:d;4=G4:e"
            << "lines.txt";
        QTest::newRow("item file 2 missing: group kept empty, later absent")
            << Config(kFourGroups) << QStringList{QStringLiteral("g2.txt")} << "1=G1:a|b;2=G2:"
            << "lines.txt";
        QTest::newRow("Lines missing: no group read") << Config(kFourGroups, "[MAIN]\r\nOther=x\r\n") << none << ""
                                                      << "NOFUCKINGWAY";
        QTest::newRow("fifth group ignored") << Config(kFourGroups + "ValueTypeName5=G5\r\nValueTypeItems5=g1.txt\r\n")
                                             << none << "1=G1:a|b;2=G2:c;3=G3:d;4=G4:e"
                                             << "lines.txt";
        QTest::newRow("no config.ini") << QByteArray() << none << ""
                                       << "NOFUCKINGWAY";
    }

    void stopRules()
    {
        QFETCH(QByteArray, config);
        QFETCH(QStringList, missingItemFiles);
        QFETCH(QString, groups);
        QFETCH(QString, lines);
        kvtest::ExeDir dir;
        if (!config.isEmpty())
            dir.write(QStringLiteral("config.ini"), config);
        const QList<std::pair<const char*, QByteArray>> items = {
            {"g1.txt", "a\r\nb\r\n"}, {"g2.txt", "c"}, {"g3.txt", "d"}, {"g4.txt", "e"}};
        for (const auto& [name, bytes] : items)
            if (!missingItemFiles.contains(QLatin1String(name)))
                dir.write(QLatin1String(name), bytes);

        TvsValueTypeList valueTypes;
        valueTypes.Add(QStringLiteral("stale"), QString()); // a reload starts from an empty list
        QCOMPARE(ReadCatalogue(dir.path(), QStringLiteral("config.ini"), valueTypes), lines);
        QCOMPARE(Describe(valueTypes), groups);
        if (valueTypes.Count() > 0)
            QCOMPARE(valueTypes.Items(0).ItemsFile, dir.file(QStringLiteral("g1.txt")));
    }

    void appendedValueBytes_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("no final break") << QByteArray("X\r\nY") << QStringLiteral("Z") << QByteArray("X\r\nY\r\nZ");
        QTest::newRow("final break kept") << QByteArray("Y\r\n") << QStringLiteral("Z") << QByteArray("Y\r\n\r\nZ");
        QTest::newRow("empty text is a bare break") << QByteArray("Y") << QString() << QByteArray("Y\r\n");
        QTest::newRow("cyrillic in 1251")
            << QByteArray("Y") << QStringLiteral("Мир") << QByteArray("Y\r\n\xcc\xe8\xf0");
        QTest::newRow("blanks kept") << QByteArray("Y") << QStringLiteral(" a ") << QByteArray("Y\r\n a ");
    }

    void appendedValueBytes()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, text);
        QFETCH(QByteArray, after);
        kvtest::ExeDir dir;
        dir.write(QStringLiteral("g.txt"), before);
        AppendValueToItemFile(dir.file(QStringLiteral("g.txt")), text);
        QCOMPARE(dir.read(QStringLiteral("g.txt")), after);
        // Read back, the value is the last line; an empty one ends the file with a bare break, which
        // the next load reads as no line at all.
        const QStringList lines = ReadTextLines(dir.file(QStringLiteral("g.txt")));
        if (text.isEmpty())
            QCOMPARE(lines.constLast(), QStringLiteral("Y"));
        else
            QCOMPARE(lines.constLast(), text);
    }

    void appendingNeverCreatesAFile()
    {
        kvtest::ExeDir dir;
        AppendValueToItemFile(dir.file(QStringLiteral("gone.txt")), QStringLiteral("X"));
        QVERIFY(!QFile::exists(dir.file(QStringLiteral("gone.txt"))));
    }

    void unreadableFileRaises()
    {
        kvtest::ExeDir dir;
        QVERIFY_THROWS_EXCEPTION(kv::Error, ReadTextFile(dir.file(QStringLiteral("none.txt"))));
    }
};

QTEST_GUILESS_MAIN(TestCatalogue)
#include "test_catalogue.moc"
