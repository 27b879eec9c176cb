// The settings key as a file: its existence is the setting, values are read and written one by one,
// and every failure carries the value's name.
#include "core/platform/Errors.h"
#include "core/settings/SettingsStore.h"
#include "support/WriteFaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest/QtTest>

using namespace kv;

namespace {

QByteArray ReadAll(const QString& name)
{
    QFile f(name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteAll(const QString& name, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(name).absolutePath());
    QFile f(name);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

// The message of the kv::Error that fn raises, or "" when it raises none.
template <typename Fn> QString ErrorOf(Fn fn)
{
    try {
        fn();
    } catch (const Error& e) {
        return e.message();
    }
    return QString();
}

} // namespace

class TestSettingsStore : public QObject
{
    Q_OBJECT

private slots:
    void defaultFileMirrorsTheKeyPathInTheConfigFolder()
    {
        if (qEnvironmentVariableIsEmpty("XDG_CONFIG_HOME"))
            QSKIP("needs the private configuration folder that the CTest registration sets");
        QCOMPARE(DefaultSettingsFile(),
                 qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/Orvanta/Kvendar.ini"));
    }

    void existenceIsTheSetting()
    {
        QTemporaryDir dir;
        const QString name = dir.filePath(QStringLiteral("a/Orvanta/Kvendar.ini"));
        const SettingsStore store(name);
        QVERIFY(!store.KeyExists());

        store.CreateKey();
        QVERIFY(store.KeyExists());
        QCOMPARE(QFileInfo(name).size(), 0);

        store.WriteInteger(QStringLiteral("Left"), 12);
        store.CreateKey(); // an existing key keeps its values
        QCOMPARE(store.ReadInteger(QStringLiteral("Left")), 12);

        store.DeleteKey();
        QVERIFY(!store.KeyExists());
        QVERIFY(QFileInfo(dir.filePath(QStringLiteral("a/Orvanta"))).isDir());
        store.DeleteKey(); // absent: nothing happens, nothing is raised
        QVERIFY(!store.KeyExists());
    }

    void folderInPlaceOfTheFileIsNoKey()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("Kvendar.ini")));
        QVERIFY(!SettingsStore(dir.filePath(QStringLiteral("Kvendar.ini"))).KeyExists());
    }

    void readInteger_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("error");
        const QString top = QStringLiteral("Top");
        QTest::newRow("plain") << QByteArray("[Kvendar]\nLeft=5\nTop=70\n") << top << 70 << QString();
        QTest::newRow("negative, blanks, CRLF")
            << QByteArray("[Kvendar]\r\n Top = -1200 \r\n") << top << -1200 << QString();
        QTest::newRow("name in other case") << QByteArray("TOP=3\n") << top << 3 << QString();
        QTest::newRow("largest 32-bit") << QByteArray("Top=2147483647\n") << top << 2147483647 << QString();
        QTest::newRow("prefix is another name")
            << QByteArray("TopX=1\n") << top << 0 << QStringLiteral("Failed to get data for 'Top'");
        QTest::newRow("missing") << QByteArray("Left=5\n") << top << 0
                                 << QStringLiteral("Failed to get data for 'Top'");
        QTest::newRow("empty file") << QByteArray() << QStringLiteral("Left") << 0
                                    << QStringLiteral("Failed to get data for 'Left'");
        QTest::newRow("text") << QByteArray("Top=abc\n") << top << 0 << QStringLiteral("Invalid data type for 'Top'");
        QTest::newRow("beyond 32 bits") << QByteArray("Top=4294967296\n") << top << 0
                                        << QStringLiteral("Invalid data type for 'Top'");
        QTest::newRow("fraction") << QByteArray("Top=12.5\n") << top << 0
                                  << QStringLiteral("Invalid data type for 'Top'");
        QTest::newRow("empty value") << QByteArray("Top=\n") << top << 0
                                     << QStringLiteral("Invalid data type for 'Top'");
    }

    void readInteger()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, name);
        QFETCH(int, value);
        QFETCH(QString, error);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("Kvendar.ini"));
        WriteAll(file, content);
        qint32 read = 0;
        QCOMPARE(ErrorOf([&] { read = SettingsStore(file).ReadInteger(name); }), error);
        if (error.isEmpty())
            QCOMPARE(read, value);
    }

    void readWithoutFileFails()
    {
        QTemporaryDir dir;
        const SettingsStore store(dir.filePath(QStringLiteral("Kvendar.ini")));
        QCOMPARE(ErrorOf([&] { store.ReadInteger(QStringLiteral("Width")); }),
                 QStringLiteral("Failed to get data for 'Width'"));
    }

    void writeCreatesReplacesAndKeepsTheRest()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("Kvendar.ini"));
        const SettingsStore store(file);
        store.CreateKey();
        store.WriteInteger(QStringLiteral("Left"), 10);
        store.WriteInteger(QStringLiteral("Top"), -20);
        store.WriteInteger(QStringLiteral("Left"), 30);
        QCOMPARE(ReadAll(file), QByteArray("[Kvendar]\nLeft=30\nTop=-20\n"));
        QCOMPARE(store.ReadInteger(QStringLiteral("Left")), 30);
        QCOMPARE(store.ReadInteger(QStringLiteral("Top")), -20);
    }

    void failedWriteNamesTheValueAndLeavesTheFile()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("Orvanta"));
        const QString file = folder + QStringLiteral("/Kvendar.ini");
        const SettingsStore store(file);
        store.CreateKey();
        store.WriteInteger(QStringLiteral("Left"), 10);
        {
            kvtest::WritesFail fail(folder);
            QCOMPARE(ErrorOf([&] { store.WriteInteger(QStringLiteral("Top"), 5); }),
                     QStringLiteral("Failed to set data for 'Top'"));
        }
        QCOMPARE(ReadAll(file), QByteArray("[Kvendar]\nLeft=10\n"));
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{QStringLiteral("Kvendar.ini")});
    }
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "test_settings_store.moc"
