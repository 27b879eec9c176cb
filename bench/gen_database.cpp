// Writes a database of many tests with their values for the benchmark:
//   kvendar_bench_gen <folder> [tests=100000] [values per test=15] [whole]
// The records are built with the record accessors and written in large buffered blocks, as a
// researcher's years of saves would have left them. The groups' points are random unless "whole"
// is given: then they add up the values' wins, as a complete comparison leaves them, so every test
// takes the summary's full computation.

#include "core/storage/uvsDataBase.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStringList>

#include <cstdio>
#include <random>

using namespace kv;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: kvendar_bench_gen <folder> [tests] [values per test] [whole]\n");
        return 2;
    }
    const QString dir = args.at(1);
    const int testCount = args.size() > 2 ? args.at(2).toInt() : 100000;
    const int perTest = args.size() > 3 ? args.at(3).toInt() : 15;
    const bool whole = args.size() > 4 && args.at(4) == QStringLiteral("whole");
    QDir().mkpath(dir);

    QFile tests(dir + QStringLiteral("/tests.dat"));
    QFile values(dir + QStringLiteral("/values.dat"));
    if (!tests.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        !values.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        std::fprintf(stderr, "cannot write into %s\n", qPrintable(dir));
        return 1;
    }

    const QStringList social = {QStringLiteral("Нет ответа"), QStringLiteral("Холост"),
                                QStringLiteral("Гражданский брак"), QStringLiteral("Женат / замужем")};
    std::mt19937 random(12345);
    QByteArray testBlock;
    QByteArray valueBlock;
    qint32 valueId = 0;
    for (int t = 1; t <= testCount; ++t) {
        TvsDBTestRec test;
        test.SetId(quint32(t));
        test.SetFio(QStringLiteral("Испытуемый номер %1").arg(t));
        test.SetDate(37865.0 + t / 10.0);
        test.SetAge(qint32(18 + random() % 60));
        test.SetSex(quint8(random() % 3));
        test.SetSocial(social.at(int(random() % social.size())));
        test.SetChildren(QStringLiteral("Нет ответа"));
        test.SetPlaceOfLiving(QStringLiteral("Санкт-Петербург"));
        test.SetEducation(QStringLiteral("Высшее"));
        test.SetSocialStatus(QStringLiteral("Рабочий"));
        test.SetBussines(QStringLiteral("Образование"));
        test.SetMaterialLevel(QStringLiteral("Средний"));
        for (int g = 1; g <= 4; ++g)
            test.SetTypeScore(g, qint32(random() % 40));
        if (whole) {
            // Value v of the test wins perTest - v times and belongs to group 1 + v % 4; one more
            // value, unnamed, wins nothing: perTest + 1 values compared in full.
            for (int g = 1; g <= 4; ++g) {
                qint32 points = 0;
                for (int v = g - 1; v < perTest; v += 4)
                    points += perTest - v;
                test.SetTypeScore(g, points);
            }
        }
        testBlock.append(test.bytes.data(), TvsDBTestRec::kSize);

        TvsDBValueRec value;
        for (int v = 0; v < perTest; ++v) {
            value.SetId(++valueId);
            value.SetTestId(t);
            value.SetTypeNumber(quint8(1 + v % 4));
            value.SetScore(perTest - v);
            value.SetName(QStringLiteral("Ценность номер %1").arg(v + 1));
            valueBlock.append(value.bytes.data(), TvsDBValueRec::kSize);
        }
        if (valueBlock.size() > (4 << 20)) {
            tests.write(testBlock);
            values.write(valueBlock);
            testBlock.clear();
            valueBlock.clear();
        }
    }
    tests.write(testBlock);
    values.write(valueBlock);
    std::printf("%s: %lld bytes, %s: %lld bytes\n", qPrintable(tests.fileName()), tests.size(),
                qPrintable(values.fileName()), values.size());
    return tests.error() == QFile::NoError && values.error() == QFile::NoError ? 0 : 1;
}
