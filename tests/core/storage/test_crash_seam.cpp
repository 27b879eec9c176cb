// The crash seam that the kill tests arm in their own process cannot be armed from outside: the
// program and the tool ignore the environment variable an earlier build listened to, so a variable
// inherited by accident cannot end a save or a merge half-way.
#include "support/CoreSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QtTest/QtTest>

class TestCrashSeam : public QObject
{
    Q_OBJECT

private slots:
    void environmentCannotArmIt_data()
    {
        QTest::addColumn<int>("step");
        for (int step : {1, 2, 3, 5, 8, 13})
            QTest::newRow(qPrintable(QString::number(step))) << step;
    }
    void environmentCannotArmIt()
    {
        QFETCH(int, step);
        QTemporaryDir work;
        QVERIFY(work.isValid());
        const QString source = work.filePath(QStringLiteral("source"));
        const QString target = work.filePath(QStringLiteral("target"));
        QVERIFY(QDir().mkpath(source) && QDir().mkpath(target));
        const QDir fixture(QStringLiteral(KVENDAR_TEST_DATA_DIR "/exchange/Data"));
        for (const QString& name : fixture.entryList(QDir::Files))
            QVERIFY(QFile::copy(fixture.filePath(name), source + u'/' + name));

        QProcess tool;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("KVENDAR_CRASH_AFTER_STEP"), QString::number(step));
        tool.setProcessEnvironment(env);
        tool.start(QStringLiteral(KVENDAR_BIN_DIR "/kvendar-data"), {QStringLiteral("merge"), source, target});
        QVERIFY(tool.waitForFinished(60000));
        QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
        QVERIFY2(tool.exitCode() == 0, tool.readAllStandardError().constData());
        // Every test of the source arrived, and the journal is retired (its first eight bytes zero).
        QFile tests(target + QStringLiteral("/tests.dat"));
        QVERIFY(tests.open(QIODevice::ReadOnly));
        QVERIFY(tests.size() > 0);
        QFile journal(target + QStringLiteral("/journal.dat"));
        if (journal.open(QIODevice::ReadOnly))
            QCOMPARE(journal.read(8), QByteArray(8, '\0'));
    }
};

QTEST_GUILESS_MAIN(TestCrashSeam)
#include "test_crash_seam.moc"
