// Saving a finished test from the results window: what lands in the two files, the numbering across
// saves, the window's lock afterwards, and saves that fail (bad age, no data folder, a write cut
// short by a file-size limit, a file locked by another process) leaving the window unsaved.
#include "core/storage/Journal.h"
#include "core/storage/SaveTransaction.h"
#include "core/storage/uvsDataBase.h"
#include "gui/results/uvsResults.h"
#include "support/ForeignLock.h"
#include "support/TestSupport.h"

#include <QComboBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest/QtTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace kv;

namespace {

const QDateTime kNow(QDate(2024, 3, 5), QTime(14, 30, 15, 250));
// 45356 days from 1899-12-30 to 2024-03-05, and 14:30:15.250 as a fraction of a day.
const double kNowRecordDate = 45356.0 + (14 * 3600 + 30 * 60 + 15.25) / 86400.0;
const QString kLongValue = QString(85, QChar(u'щ'));
const QStringList kCombos = {QStringLiteral("cxSocial"),        QStringLiteral("cxChildren"),
                             QStringLiteral("cxPlaceOfLiving"), QStringLiteral("cxEducation"),
                             QStringLiteral("cxSocialStatus"),  QStringLiteral("cxBussines"),
                             QStringLiteral("cxMaterialLevel"), QStringLiteral("cxSex")};

template <typename T> T* Find(QWidget* window, const QString& name)
{
    T* child = window->findChild<T*>(name);
    if (child == nullptr)
        qFatal("no %s", qPrintable(name));
    return child;
}

// Groups 2 (5 points), 4 (1 point) and one numbered outside 1 .. 4, as a list rebuilt from the
// database can be.
void FillResults(TvsValueTypeList& result)
{
    auto add = [&](int number, const QString& name, const QList<QPair<QString, int>>& values) {
        TvsValueTypeRec& group = result.Items(result.Add(name, QString()));
        group.Number = number;
        group.Values = std::make_unique<TvsValueList>();
        for (const auto& [valueName, score] : values) {
            group.Values->Items(group.Values->Add(valueName, number, name)).Score = score;
            group.Score += score;
        }
    };
    add(2, QStringLiteral("Социальные ценности"), {{QStringLiteral("Свобода"), 3}, {kLongValue, 2}});
    add(4, QStringLiteral("Личные ценности"), {{QStringLiteral("Здоровье"), 1}});
    add(7, QStringLiteral("Прочие"), {{QStringLiteral("Красота"), 1}});
}

// What the window looked like right after "Сохранить".
struct After
{
    bool saved = false;
    bool visible = false;
    bool fioReadOnly = false;
    bool fioEnabled = false;
    bool ageReadOnly = false;
    bool saveEnabled = true;
    QStringList enabledCombos;
    bool askedOnClose = false;
};

struct Fixture
{
    kvtest::FakeDialogs dialogs;
    kvtest::ExeDir exe;
    AppContext context{exe.path(), dialogs};
    TvsValueTypeList result;

    Fixture() { FillResults(result); }
    QString tests() const { return context.dataDir() + QStringLiteral("/tests.dat"); }
    QString values() const { return context.dataDir() + QStringLiteral("/values.dat"); }
    QString answers() const { return context.dataDir() + QStringLiteral("/answers.dat"); }

    // Opens a results window over the list, lets fill set the questionnaire, presses "Сохранить"
    // (through around, when given, which must call the press it receives), and closes the window.
    After Save(const std::function<void(QWidget*)>& fill,
               const std::function<void(const std::function<void()>&)>& around = {},
               const TvsAnswerLog* answers = nullptr)
    {
        After after;
        TfmResults window(context);
        window.SetClock([] { return kNow; });
        auto met = kvtest::AnswerModal([&](QWidget* modal) {
            fill(modal);
            auto* save = Find<QPushButton>(modal, QStringLiteral("btSave"));
            const auto press = [&] { QTest::mouseClick(save, Qt::LeftButton); };
            if (around)
                around(press);
            else
                press();
            after.saved = window.IsSaved();
            after.visible = modal->isVisible();
            auto* fio = Find<QLineEdit>(modal, QStringLiteral("edFio"));
            after.fioReadOnly = fio->isReadOnly();
            after.fioEnabled = fio->isEnabled();
            after.ageReadOnly = Find<QLineEdit>(modal, QStringLiteral("edAge"))->isReadOnly();
            after.saveEnabled = save->isEnabled();
            for (const QString& name : kCombos) {
                if (Find<QComboBox>(modal, name)->isEnabled())
                    after.enabledCombos << name;
            }
            const qsizetype asked = dialogs.messages.size();
            Find<QPushButton>(modal, QStringLiteral("btClose"))->click();
            if (modal->isVisible()) {
                dialogs.answers = {QMessageBox::Yes};
                Find<QPushButton>(modal, QStringLiteral("btClose"))->click();
            }
            after.askedOnClose = dialogs.messages.size() > asked;
        });
        window.Execute(result, answers);
        if (!*met)
            qFatal("the results window did not come up");
        return after;
    }
};

QByteArray ReadFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return f.readAll();
}

// The six answers of a comparison of four values, the second answered after a long look and the
// long name cut to 80 on the way into the file.
TvsAnswerLog SixAnswers()
{
    const QString names[4] = {QStringLiteral("Свобода"), kLongValue, QStringLiteral("Здоровье"),
                              QStringLiteral("Красота")};
    const qint32 groups[4] = {2, 2, 4, 7};
    const int pairs[6][2] = {{0, 1}, {2, 3}, {1, 2}, {0, 3}, {1, 3}, {0, 2}};
    TvsAnswerLog log;
    for (int q = 0; q < 6; ++q) {
        TvsAnswer a;
        a.Question = q + 1;
        a.Upper = names[pairs[q][0]];
        a.UpperGroup = groups[pairs[q][0]];
        a.UpperIndex = pairs[q][0];
        a.Lower = names[pairs[q][1]];
        a.LowerGroup = groups[pairs[q][1]];
        a.LowerIndex = pairs[q][1];
        a.Chosen = quint8(q % 3 == 1 ? 2 : 1);
        a.ResponseMs = q == 1 ? 4000000000u : quint32(700 + 10 * q);
        log.push_back(a);
    }
    return log;
}

void SetCombo(QWidget* window, const QString& name, int index)
{
    Find<QComboBox>(window, name)->setCurrentIndex(index);
}

} // namespace

class TestSave : public QObject
{
    Q_OBJECT

private slots:
    void btSaveIsEnabledAtFirst()
    {
        Fixture f;
        TfmResults window(f.context);
        QVERIFY(Find<QPushButton>(&window, QStringLiteral("btSave"))->isEnabled());
    }

    void firstSaveCreatesTheDatabase()
    {
        Fixture f;
        QVERIFY(!QFileInfo::exists(f.context.dataDir()));
        const QString longFio = QString(60, QChar(u'Я')) + QString(40, QChar(u'b'));
        const After after = f.Save([&](QWidget* w) {
            Find<QLineEdit>(w, QStringLiteral("edFio"))->setText(longFio);
            Find<QLineEdit>(w, QStringLiteral("edAge"))->setText(QStringLiteral("35"));
            SetCombo(w, QStringLiteral("cxSex"), 2);
            SetCombo(w, QStringLiteral("cxSocial"), 3);
            SetCombo(w, QStringLiteral("cxSocialStatus"), 10);
            SetCombo(w, QStringLiteral("cxMaterialLevel"), 6);
        });
        QVERIFY2(f.dialogs.errors.isEmpty(), qPrintable(f.dialogs.errors.join(u'|')));

        QVERIFY(QFileInfo(f.context.dataDir()).isDir());
        const auto tests = ReadTests(f.tests());
        QVERIFY(tests);
        QCOMPARE(tests->Count(), 1);
        const TvsDBTestRec& t = tests->Items(0);
        QCOMPARE(t.Id(), 1u);
        QCOMPARE(t.Fio(), longFio.left(80));
        QCOMPARE(t.Date(), kNowRecordDate);
        QCOMPARE(t.Age(), 35);
        QCOMPARE(t.Sex(), quint8(2));
        QCOMPARE(t.Social(), QStringLiteral("Женат / замужем"));
        QCOMPARE(t.Children(), QStringLiteral("Нет ответа"));
        QCOMPARE(t.PlaceOfLiving(), QStringLiteral("Нет ответа"));
        QCOMPARE(t.Education(), QStringLiteral("Нет ответа"));
        QCOMPARE(t.SocialStatus(), QStringLiteral("Другое "));
        QCOMPARE(t.Bussines(), QStringLiteral("Нет ответа"));
        QCOMPARE(t.MaterialLevel(), QStringLiteral("Высокий"));
        QCOMPARE(t.TypeScore(1), 0);
        QCOMPARE(t.TypeScore(2), 5);
        QCOMPARE(t.TypeScore(3), 0);
        QCOMPARE(t.TypeScore(4), 1);

        // One record per value, in result-list order, all with the test's number.
        const auto values = ReadValues(f.values());
        QVERIFY(values);
        QCOMPARE(values->Count(), 4);
        const QStringList names = {QStringLiteral("Свобода"), kLongValue.left(80), QStringLiteral("Здоровье"),
                                   QStringLiteral("Красота")};
        const QList<int> scores = {3, 2, 1, 1};
        const QList<int> groups = {2, 2, 4, 7};
        for (int i = 0; i < 4; ++i) {
            const TvsDBValueRec& v = values->Items(i);
            QCOMPARE(v.Id(), i + 1);
            QCOMPARE(v.TestId(), 1);
            QCOMPARE(v.Name(), names[i]);
            QCOMPARE(v.Score(), scores[i]);
            QCOMPARE(int(v.TypeNumber()), groups[i]);
        }

        QVERIFY(after.saved);
        QVERIFY(after.visible);
        QVERIFY(after.fioReadOnly);
        QVERIFY(after.fioEnabled);
        QVERIFY(after.ageReadOnly);
        QVERIFY(!after.saveEnabled);
        QCOMPARE(after.enabledCombos, QStringList());
        QVERIFY(!after.askedOnClose);
    }

    void secondSaveContinuesBothNumberings()
    {
        Fixture f;
        f.Save([](QWidget*) {});
        const After after = f.Save([](QWidget* w) { SetCombo(w, QStringLiteral("cxSex"), 1); });
        QVERIFY(after.saved);
        const auto tests = ReadTests(f.tests());
        QCOMPARE(tests->Count(), 2);
        QCOMPARE(tests->Items(1).Id(), 2u);
        QCOMPARE(tests->Items(1).Sex(), quint8(1));
        QCOMPARE(tests->Items(0).Age(), 0);
        const auto values = ReadValues(f.values());
        QCOMPARE(values->Count(), 8);
        for (int i = 4; i < 8; ++i) {
            QCOMPARE(values->Items(i).Id(), i + 1);
            QCOMPARE(values->Items(i).TestId(), 2);
        }
    }

    void age_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("age");
        QTest::addColumn<QString>("error");
        QTest::newRow("empty") << QString() << 0 << QString();
        QTest::newRow("35") << QStringLiteral("35") << 35 << QString();
        QTest::newRow("007") << QStringLiteral("007") << 7 << QString();
        // The field drops what is not a digit, however the text arrives.
        QTest::newRow("pasted letters") << QStringLiteral("3x") << 3 << QString();
        QTest::newRow("past 32 bits") << QStringLiteral("99999999999") << 0
                                      << QStringLiteral("'99999999999' is not a valid integer value");
    }

    void age()
    {
        QFETCH(QString, text);
        QFETCH(int, age);
        QFETCH(QString, error);
        Fixture f;
        const After after = f.Save([&](QWidget* w) { Find<QLineEdit>(w, QStringLiteral("edAge"))->setText(text); });
        if (error.isEmpty()) {
            QVERIFY(after.saved);
            QCOMPARE(ReadTests(f.tests())->Items(0).Age(), age);
            return;
        }
        QCOMPARE(f.dialogs.errors, QStringList{error});
        QVERIFY(!after.saved);
        QVERIFY(after.saveEnabled);
        QVERIFY(!after.ageReadOnly);
        QCOMPARE(after.enabledCombos, kCombos);
        QVERIFY(after.askedOnClose);
        QVERIFY(!QFileInfo::exists(f.tests()));
        QVERIFY(!QFileInfo::exists(f.values()));
    }

    void noDataFolderPossible()
    {
        Fixture f;
        f.exe.write(QStringLiteral("Data"), QByteArray("a file in the folder's place"));
        const After after = f.Save([](QWidget*) {});
        QCOMPARE(f.dialogs.errors, QStringList{QStringLiteral("Невозможно создать базу данных.")});
        QVERIFY(!after.saved);
        QVERIFY(after.saveEnabled);
        QVERIFY(!after.fioReadOnly);
        QCOMPARE(after.enabledCombos, kCombos);
        QVERIFY(after.askedOnClose);
    }

    void unusableUserFolderRefusesEverySave()
    {
        // The folder the database belongs in could not be made at start-up: the save says so and
        // writes nothing, not even into a folder it could create.
        Fixture f;
        f.context.places.dataHome = f.exe.path();
        f.context.places.storageError = QStringLiteral("Не удаётся создать папку данных «/x/kvendar»: отказано");
        const After after = f.Save([](QWidget*) {});
        QCOMPARE(f.dialogs.errors, QStringList{f.context.places.storageError});
        QVERIFY(!after.saved);
        QVERIFY(after.saveEnabled);
        QVERIFY(!QFileInfo::exists(f.context.dataDir()));
    }

    void writeCutShortLeavesFilesAndWindowUnsaved()
    {
        Fixture f;
        // One earlier test with thirty values, so values.dat is the larger file and a limit aimed
        // into it leaves tests.dat room for its new record.
        QVERIFY(CheckDataDir(f.context.dataDir()));
        TvsDBTestRec earlier;
        AppendTestRec(f.tests(), earlier);
        for (int i = 0; i < 30; ++i) {
            TvsDBValueRec value;
            value.SetTestId(1);
            value.SetName(QStringLiteral("ценность %1").arg(i));
            AppendValueRec(f.values(), value);
        }
        const QByteArray testsBefore = ReadFile(f.tests());
        const QByteArray valuesBefore = ReadFile(f.values());

        // values.dat stops 40 bytes into its first new record.
        rlimit old{};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &old), 0);
        const rlim_t limit = rlim_t(valuesBefore.size() + 40);
        QVERIFY(limit > rlim_t(testsBefore.size() + TvsDBTestRec::kSize));
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        bool limited = false;
        const After after = f.Save([](QWidget*) {},
                                   [&](const std::function<void()>& press) {
                                       const rlimit lim{limit, old.rlim_max};
                                       limited = ::setrlimit(RLIMIT_FSIZE, &lim) == 0;
                                       press();
                                       ::setrlimit(RLIMIT_FSIZE, &old);
                                   });
        std::signal(SIGXFSZ, previous);
        QVERIFY(limited);
        QCOMPARE(f.dialogs.errors.size(), 1);
        QVERIFY2(f.dialogs.errors[0].startsWith(QStringLiteral("Тест не сохранен: файл достиг предельного размера")),
                 qPrintable(f.dialogs.errors[0]));
        QVERIFY(f.dialogs.errors[0].contains(QStringLiteral("values.dat")));
        QVERIFY(!after.saved);
        QVERIFY(after.saveEnabled);
        QVERIFY(after.askedOnClose);
        QCOMPARE(ReadFile(f.tests()).toHex(), testsBefore.toHex());
        QCOMPARE(ReadFile(f.values()).toHex(), valuesBefore.toHex());
    }

    void answerLogIsSavedWithTheTest()
    {
        Fixture f;
        const TvsAnswerLog log = SixAnswers();
        f.Save([](QWidget*) {});
        QVERIFY(f.Save([](QWidget*) {}, {}, &log).saved);
        QVERIFY2(f.dialogs.errors.isEmpty(), qPrintable(f.dialogs.errors.join(u'|')));
        const auto answers = ReadAnswers(f.answers());
        QVERIFY(answers);
        QCOMPARE(answers->Count(), 6);
        for (int i = 0; i < 6; ++i) {
            const TvsDBAnswerRec& r = answers->Items(i);
            const TvsAnswer& a = log[size_t(i)];
            QCOMPARE(r.Id(), quint32(i + 1));
            QCOMPARE(r.TestId(), 2u); // the second test; the first had no log
            QCOMPARE(r.Question(), quint32(a.Question));
            QCOMPARE(r.Upper(), a.Upper.left(80));
            QCOMPARE(int(r.UpperGroup()), a.UpperGroup);
            QCOMPARE(r.Lower(), a.Lower.left(80));
            QCOMPARE(int(r.LowerGroup()), a.LowerGroup);
            QCOMPARE(r.Chosen(), a.Chosen);
            QCOMPARE(r.ResponseMs(), a.ResponseMs);
        }

        // A test without a log, or with an empty one, adds nothing to the answers.
        const QByteArray answersBefore = ReadFile(f.answers());
        const TvsAnswerLog none;
        QVERIFY(f.Save([](QWidget*) {}).saved);
        QVERIFY(f.Save([](QWidget*) {}, {}, &none).saved);
        QCOMPARE(ReadTests(f.tests())->Count(), 4);
        QCOMPARE(ReadFile(f.answers()), answersBefore);
        QVERIFY(!JournalHoldsWrite(ReadFile(f.context.dataDir() + QStringLiteral("/journal.dat"))));
    }

    void answerWriteCutShortRollsBackAllThree()
    {
        Fixture f;
        const TvsAnswerLog log = SixAnswers();
        f.Save([](QWidget*) {});
        // Many earlier answers make answers.dat the largest file, so a limit 500 bytes past it
        // stops the third new answer while the test and its values fit.
        QVERIFY(CheckDataDir(f.context.dataDir()));
        {
            TvsDBSave earlier(f.context.dataDir());
            TvsDBAnswerRec answer;
            answer.SetTestId(1);
            for (int i = 0; i < 300; ++i)
                earlier.AppendAnswer(answer);
            earlier.Commit();
        }
        const QByteArray testsBefore = ReadFile(f.tests());
        const QByteArray valuesBefore = ReadFile(f.values());
        const QByteArray answersBefore = ReadFile(f.answers());
        rlimit old{};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &old), 0);
        const rlim_t limit = rlim_t(answersBefore.size() + 500);
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        const After after = f.Save([](QWidget*) {},
                                   [&](const std::function<void()>& press) {
                                       const rlimit lim{limit, old.rlim_max};
                                       QCOMPARE(::setrlimit(RLIMIT_FSIZE, &lim), 0);
                                       press();
                                       ::setrlimit(RLIMIT_FSIZE, &old);
                                   },
                                   &log);
        std::signal(SIGXFSZ, previous);
        QCOMPARE(f.dialogs.errors.size(), 1);
        QVERIFY2(f.dialogs.errors[0].contains(QStringLiteral("предельного размера")) &&
                     f.dialogs.errors[0].contains(QStringLiteral("answers.dat")),
                 qPrintable(f.dialogs.errors[0]));
        QVERIFY(!after.saved);
        QVERIFY(after.saveEnabled);
        QCOMPARE(ReadFile(f.tests()).toHex(), testsBefore.toHex());
        QCOMPARE(ReadFile(f.values()).toHex(), valuesBefore.toHex());
        QCOMPARE(ReadFile(f.answers()).toHex(), answersBefore.toHex());
        QVERIFY(!JournalHoldsWrite(ReadFile(f.context.dataDir() + QStringLiteral("/journal.dat"))));
    }

    void fileLockedByAnotherProgram()
    {
        Fixture f;
        f.Save([](QWidget*) {});
        const QByteArray valuesBefore = ReadFile(f.values());
        After after;
        {
            kvtest::ForeignLock lock(f.values());
            QVERIFY(lock.locked());
            after = f.Save([](QWidget*) {});
        }
        QCOMPARE(f.dialogs.errors.size(), 1);
        QVERIFY2(f.dialogs.errors[0].contains(QStringLiteral("занята другой программой")),
                 qPrintable(f.dialogs.errors[0]));
        QVERIFY(!after.saved);
        QCOMPARE(ReadTests(f.tests())->Count(), 1);
        QCOMPARE(ReadFile(f.values()), valuesBefore);
    }
};

QTEST_MAIN(TestSave)
#include "test_save.moc"
