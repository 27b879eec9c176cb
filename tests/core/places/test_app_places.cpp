// The start-up decision between a portable and an installed run, and the first start's copy of the
// shipped catalogue into the user's folder.
#include "core/places/AppPlaces.h"
#include "support/CoreSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest/QtTest>

#include <atomic>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace kv;

namespace {

const QStringList kShippedFiles{QStringLiteral("config.ini"),      QStringLiteral("lines.txt"),
                                QStringLiteral("ideological.txt"), QStringLiteral("material.txt"),
                                QStringLiteral("emotional.txt"),   QStringLiteral("vital.txt")};

QByteArray ReadFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return f.readAll();
}

void WriteFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

int Mode(const QString& path)
{
    struct stat st
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return int(st.st_mode & 07777);
}

// One machine: an executable folder, the shipped data folder, and a home with its data folder.
struct Machine
{
    QTemporaryDir root;
    QString exe() const { return root.path() + QStringLiteral("/usr/bin/"); }
    QString shipped() const { return root.path() + QStringLiteral("/usr/share/kvendar/"); }
    QString dataHome() const { return root.path() + QStringLiteral("/home/.local/share"); }
    QString user() const { return dataHome() + QStringLiteral("/kvendar/"); }

    Machine()
    {
        // Without its own folder every path below would be an absolute path on the real machine.
        if (!root.isValid())
            qFatal("no temporary folder: %s", qPrintable(root.errorString()));
        QDir().mkpath(exe());
        // The source tree's data folder, or a copy of it where the one running the test cannot read
        // the tree (an ordinary user's run of a clone in another user's private folder).
        const QString source =
            qEnvironmentVariable("KVENDAR_SHIPPED_DATA_DIR", QStringLiteral(KVENDAR_SHIPPED_DATA_DIR)) + u'/';
        for (const QString& name : kShippedFiles) {
            QFile file(source + name);
            if (!file.open(QIODevice::ReadOnly))
                qFatal("cannot read the shipped %s", qPrintable(file.fileName()));
            WriteFile(shipped() + name, file.readAll());
        }
        WriteFile(shipped() + QStringLiteral("kvendar.html"), QByteArray("<html></html>"));
    }

    AppPlaces Decide() const { return DecideAppPlaces(exe(), shipped(), user()); }

    // Names in the parent of the user's folder other than the folder itself: leftovers of a copy.
    QStringList Leftovers() const
    {
        QStringList names = QDir(dataHome()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        names.removeAll(QStringLiteral("kvendar"));
        const QStringList inside = QDir(user()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        for (const QString& name : inside)
            if (name.startsWith(u'.'))
                names.append(QStringLiteral("kvendar/") + name);
        return names;
    }
};

} // namespace

class TestAppPlaces : public QObject
{
    Q_OBJECT

private slots:
    // What is prepared before the decision, and where the run ends up.
    void decision_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<bool>("portable");
        QTest::addColumn<QString>("catalogueAt"); // exe, user or shipped
        QTest::addColumn<bool>("readOnly");
        QTest::addColumn<bool>("error");

        QTest::newRow("config.ini beside the executable") << "portable" << true << "exe" << false << false;
        QTest::newRow("nothing beside it: first start") << "" << false << "user" << false << false;
        QTest::newRow("user's catalogue already there") << "second" << false << "user" << false << false;
        QTest::newRow("user folder holds Data only") << "dataOnly" << false << "user" << false << false;
        QTest::newRow("file in place of the user folder") << "fileInPlace" << false << "shipped" << true << true;
        QTest::newRow("file in place of the data home") << "fileAsHome" << false << "shipped" << true << true;
        QTest::newRow("shipped config.ini missing") << "noShippedConfig" << false << "shipped" << true << false;
        QTest::newRow("shipped item file missing") << "noShippedItems" << false << "shipped" << true << false;
        QTest::newRow("shipped lines key missing") << "noLinesKey" << false << "shipped" << true << false;
    }

    void decision()
    {
        QFETCH(QString, setup);
        QFETCH(bool, portable);
        QFETCH(QString, catalogueAt);
        QFETCH(bool, readOnly);
        QFETCH(bool, error);

        Machine m;
        if (setup == QLatin1String("portable"))
            WriteFile(m.exe() + QStringLiteral("config.ini"), ReadFile(m.shipped() + QStringLiteral("config.ini")));
        if (setup == QLatin1String("second"))
            QCOMPARE(m.Decide().catalogueDir, m.user());
        if (setup == QLatin1String("dataOnly"))
            WriteFile(m.user() + QStringLiteral("Data/tests.dat"), QByteArray(681, 'x'));
        if (setup == QLatin1String("fileInPlace"))
            WriteFile(m.dataHome() + QStringLiteral("/kvendar"), QByteArray("not a folder"));
        if (setup == QLatin1String("fileAsHome"))
            WriteFile(m.root.path() + QStringLiteral("/home/.local"), QByteArray("not a folder"));
        if (setup == QLatin1String("noShippedConfig"))
            QFile::remove(m.shipped() + QStringLiteral("config.ini"));
        if (setup == QLatin1String("noShippedItems"))
            QFile::remove(m.shipped() + QStringLiteral("emotional.txt"));
        if (setup == QLatin1String("noLinesKey"))
            WriteFile(m.shipped() + QStringLiteral("config.ini"), QByteArray("[ValueTypes]\r\nValueTypeName1=A\r\n"));

        const AppPlaces places = m.Decide();
        QCOMPARE(places.mode == AppPlaces::Mode::Portable, portable);
        const QString expected = catalogueAt == QLatin1String("exe")    ? m.exe()
                                 : catalogueAt == QLatin1String("user") ? m.user()
                                                                        : m.shipped();
        QCOMPARE(places.catalogueDir, expected);
        QCOMPARE(places.dataHome, portable ? m.exe() : m.user());
        QCOMPARE(places.catalogueReadOnly, readOnly);
        QCOMPARE(!places.storageError.isEmpty(), error);
        if (error)
            QVERIFY2(places.storageError.contains(m.dataHome() + QStringLiteral("/kvendar")),
                     qPrintable(places.storageError));
        QVERIFY(m.Leftovers().isEmpty());

        if (portable) {
            QVERIFY(!QFileInfo::exists(m.user()));
        } else if (catalogueAt == QLatin1String("user")) {
            for (const QString& name : kShippedFiles)
                QCOMPARE(ReadFile(m.user() + name), ReadFile(m.shipped() + name));
            QCOMPARE(Mode(m.user() + QStringLiteral("config.ini")), 0600);
            if (setup == QLatin1String("dataOnly"))
                QCOMPARE(ReadFile(m.user() + QStringLiteral("Data/tests.dat")), QByteArray(681, 'x'));
            else
                QCOMPARE(Mode(m.user()), 0700);
            QVERIFY(!QFileInfo::exists(m.user() + QStringLiteral("kvendar.html"))); // help stays shipped
        } else if (!error) {
            // A broken shipped catalogue copies nothing, but saved tests still have their folder.
            QVERIFY(QFileInfo(m.user()).isDir());
            QCOMPARE(QDir(m.user()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
        }
    }

    void userEditsSurviveLaterStarts()
    {
        Machine m;
        QCOMPARE(m.Decide().catalogueDir, m.user());
        const QByteArray edited = ReadFile(m.user() + QStringLiteral("material.txt")) + QByteArray("\r\nMine");
        WriteFile(m.user() + QStringLiteral("material.txt"), edited);
        QFile::remove(m.user() + QStringLiteral("vital.txt"));
        // A newer package ships changed files; the user's copy stays as the user left it.
        WriteFile(m.shipped() + QStringLiteral("material.txt"), QByteArray("Newer"));
        WriteFile(m.shipped() + QStringLiteral("config.ini"), QByteArray("[MAIN]\r\nLines=other.txt\r\n"));

        const AppPlaces again = m.Decide();
        QCOMPARE(again.catalogueDir, m.user());
        QVERIFY(again.storageError.isEmpty());
        QCOMPARE(ReadFile(m.user() + QStringLiteral("material.txt")), edited);
        QVERIFY(!QFileInfo::exists(m.user() + QStringLiteral("vital.txt")));
        QVERIFY(ReadFile(m.user() + QStringLiteral("config.ini")).contains("ValueTypeItems4"));
    }

    void existingFolderKeepsTheUsersFiles()
    {
        // The folder is there with an item file of the user's but without config.ini: the missing
        // files arrive and the user's one is kept.
        Machine m;
        WriteFile(m.user() + QStringLiteral("vital.txt"), QByteArray("Own"));
        const AppPlaces places = m.Decide();
        QCOMPARE(places.catalogueDir, m.user());
        QCOMPARE(ReadFile(m.user() + QStringLiteral("vital.txt")), QByteArray("Own"));
        QCOMPARE(ReadFile(m.user() + QStringLiteral("config.ini")),
                 ReadFile(m.shipped() + QStringLiteral("config.ini")));
        QVERIFY(m.Leftovers().isEmpty());
    }

    void readOnlyDataHome()
    {
        if (::geteuid() == 0)
            QSKIP("root writes into a read-only folder; the file-in-place rows cover the error for root");
        Machine m;
        QDir().mkpath(m.dataHome());
        QFile::setPermissions(m.dataHome(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        const AppPlaces places = m.Decide();
        QFile::setPermissions(m.dataHome(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QCOMPARE(places.catalogueDir, m.shipped());
        QVERIFY(places.catalogueReadOnly);
        QVERIFY2(places.storageError.contains(m.dataHome() + QStringLiteral("/kvendar")),
                 qPrintable(places.storageError));
        QVERIFY(!QFileInfo::exists(m.user()));
    }

    void catalogueFilesFollowTheLoadingRules()
    {
        QTemporaryDir dir;
        const QString d = dir.path() + QStringLiteral("/catalogue/");
        WriteFile(
            d + QStringLiteral("config.ini"),
            QByteArray("[MAIN]\r\nLines=sub/l.txt\r\n[ValueTypes]\r\nValueTypeName1=A\r\nValueTypeItems1=a.txt\r\n"
                       "ValueTypeName2=B\r\nValueTypeItems2=a.txt\r\nValueTypeItems3=c.txt\r\n"));
        WriteFile(d + QStringLiteral("sub/l.txt"), "l");
        WriteFile(d + QStringLiteral("a.txt"), "a");
        // Group 3 has no name, so its file is no part of the catalogue; a shared file counts once.
        QCOMPARE(CatalogueFiles(d),
                 (QStringList{QStringLiteral("config.ini"), QStringLiteral("sub/l.txt"), QStringLiteral("a.txt")}));
        // A name that leaves the folder would make the copy read and write outside it.
        WriteFile(dir.path() + QStringLiteral("/outside.txt"), "o");
        WriteFile(d + QStringLiteral("config.ini"), QByteArray("[MAIN]\r\nLines=../outside.txt\r\n"));
        QCOMPARE(CatalogueFiles(d), QStringList());
    }

    void manyInstancesAtOnceMakeOneWholeCopy()
    {
        for (int round = 0; round < 10; ++round) {
            Machine m;
            constexpr int kInstances = 6;
            std::atomic<int> ready{0};
            std::vector<AppPlaces> results(kInstances);
            std::vector<int> wholeWhenSeen(kInstances, 0);
            std::vector<std::thread> threads;
            for (int i = 0; i < kInstances; ++i) {
                threads.emplace_back([&, i] {
                    ++ready;
                    while (ready.load() < kInstances) {
                    }
                    results[i] = m.Decide();
                    // Whatever an instance is told to read must already be complete.
                    wholeWhenSeen[i] = int(CatalogueFiles(results[i].catalogueDir).size());
                });
            }
            for (std::thread& t : threads)
                t.join();
            for (int i = 0; i < kInstances; ++i) {
                QCOMPARE(results[i].catalogueDir, m.user());
                QVERIFY2(results[i].storageError.isEmpty(), qPrintable(results[i].storageError));
                QCOMPARE(wholeWhenSeen[i], int(kShippedFiles.size()));
            }
            QStringList present = QDir(m.user()).entryList(QDir::Files);
            present.sort();
            QStringList expected = kShippedFiles;
            expected.sort();
            QCOMPARE(present, expected);
            QVERIFY(m.Leftovers().isEmpty());
        }
    }

    void toolsFindTheSameDatabase()
    {
        Machine m;
        QCOMPARE(DataDirForRun(m.exe(), m.user()), m.user() + QStringLiteral("Data"));
        WriteFile(m.exe() + QStringLiteral("config.ini"), "x");
        QCOMPARE(DataDirForRun(m.exe(), m.user()), m.exe() + QStringLiteral("Data"));
        QVERIFY(!QFileInfo::exists(m.user())); // looking copies nothing
    }
};

QTEST_GUILESS_MAIN(TestAppPlaces)
#include "test_app_places.moc"
