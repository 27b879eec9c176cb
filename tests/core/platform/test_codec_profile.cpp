// Windows-1251 conversion, number conversion and the INI reader's matching rules.
#include "core/platform/Codec.h"
#include "core/platform/Errors.h"
#include "core/platform/ProfileFile.h"
#include "support/CoreSupport.h"

#include <QtTest/QtTest>

using namespace kv;

class TestCodecProfile : public QObject
{
    Q_OBJECT

private slots:
    void cp1251RoundTrip()
    {
        const QString text = QStringLiteral("Ёжик в тумане: №1, «ёлка» — Щ");
        const QByteArray bytes = ToCp1251(text);
        QCOMPARE(bytes.size(), text.size());                    // one byte per character
        QCOMPARE(static_cast<uchar>(bytes.at(0)), uchar(0xA8)); // Ё
        QCOMPARE(static_cast<uchar>(ToCp1251(QStringLiteral("а")).at(0)), uchar(0xE0));
        QCOMPARE(static_cast<uchar>(ToCp1251(QStringLiteral("№")).at(0)), uchar(0xB9));
        QCOMPARE(FromCp1251(bytes), text);
    }

    void cp1251EveryByteDecodes()
    {
        QByteArray all;
        for (int b = 0x20; b < 0x100; ++b)
            if (b != 0x98) // the one unassigned byte of the code page
                all.append(char(b));
        const QString text = FromCp1251(all);
        QCOMPARE(text.size(), all.size());
        QCOMPARE(ToCp1251(text), all);
    }

    void cp1251UnmappableBecomesQuestionMark() { QCOMPARE(ToCp1251(QStringLiteral("a\u4e2db")), QByteArray("a?b")); }

    void strToInt_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("value");
        QTest::newRow("plain") << QStringLiteral("35") << true << 35;
        QTest::newRow("leading zeros") << QStringLiteral("007") << true << 7;
        QTest::newRow("sign") << QStringLiteral("-12") << true << -12;
        QTest::newRow("max") << QStringLiteral("2147483647") << true << 2147483647;
        QTest::newRow("overflow") << QStringLiteral("2147483648") << false << 0;
        QTest::newRow("letters") << QStringLiteral("12a") << false << 0;
        QTest::newRow("hex") << QStringLiteral("0x10") << false << 0;
        QTest::newRow("empty") << QString() << false << 0;
        QTest::newRow("sign only") << QStringLiteral("-") << false << 0;
    }

    void strToInt()
    {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(int, value);
        if (ok) {
            QCOMPARE(StrToInt(text), value);
        } else {
            try {
                StrToInt(text);
                QFAIL("no error raised");
            } catch (const ConvertError& e) {
                QCOMPARE(e.message(), QStringLiteral("'%1' is not a valid integer value").arg(text));
            }
        }
    }

    void profileMatching_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");
        const QString dflt = QStringLiteral("DEFAULT");
        QTest::newRow("exact") << QByteArray("[MAIN]\r\nLines=lines.txt\r\n") << "MAIN"
                               << "Lines"
                               << "lines.txt";
        QTest::newRow("case of section and key") << QByteArray("[main]\nLINES=a.txt\n") << "MAIN"
                                                 << "Lines"
                                                 << "a.txt";
        QTest::newRow("blanks trimmed") << QByteArray("[ MAIN ]\n  Lines  =   a b.txt \t\n") << "MAIN"
                                        << "Lines"
                                        << "a b.txt";
        QTest::newRow("other section") << QByteArray("[X]\nLines=a\n[MAIN]\nOther=b\n") << "MAIN"
                                       << "Lines" << dflt;
        QTest::newRow("first of two") << QByteArray("[MAIN]\nLines=a\nLines=b\n") << "MAIN"
                                      << "Lines"
                                      << "a";
        QTest::newRow("value with =") << QByteArray("[MAIN]\nLines=a=b\n") << "MAIN"
                                      << "Lines"
                                      << "a=b";
        QTest::newRow("empty value") << QByteArray("[MAIN]\nLines=\n") << "MAIN"
                                     << "Lines"
                                     << "";
        QTest::newRow("cyrillic") << kvtest::Cp(QStringLiteral("[ValueTypes]\r\nValueTypeName1=Идеи\r\n"))
                                  << "ValueTypes"
                                  << "valuetypename1" << QStringLiteral("Идеи");
        QTest::newRow("cut at 2047") << (QByteArray("[S]\nK=") + QByteArray(3000, 'x')) << "S"
                                     << "K" << QString(2047, u'x');
    }

    void profileMatching()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        kvtest::ExeDir dir;
        dir.write(QStringLiteral("config.ini"), ini);
        QCOMPARE(
            ProfileFile(dir.file(QStringLiteral("config.ini"))).ReadString(section, key, QStringLiteral("DEFAULT")),
            expected);
    }

    void profileMissingFileGivesDefault()
    {
        kvtest::ExeDir dir;
        QCOMPARE(ProfileFile(dir.file(QStringLiteral("none.ini")))
                     .ReadString(QStringLiteral("MAIN"), QStringLiteral("Lines"), QStringLiteral("NOFUCKINGWAY")),
                 QStringLiteral("NOFUCKINGWAY"));
    }
};

QTEST_GUILESS_MAIN(TestCodecProfile)
#include "test_codec_profile.moc"
