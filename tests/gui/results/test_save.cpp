// Saving a finished test from the results window: the window hands its questionnaire, result list
// and answer log to the save, locks itself afterwards, and shows a failed save (bad age, no data
// folder, a file locked by another process) while staying unsaved. What the save writes is tested
// with the save itself.
#include "core/session/CompletedTest.h"
#include "core/storage/uvsDataBase.h"
#include "gui/results/uvsResults.h"
#include "support/ForeignLock.h"
#include "support/TestSupport.h"

#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest/QtTest>

using namespace kv;

namespace {

const QDateTime kNow(QDate(2024, 3, 5), QTime(14, 30, 15, 250));
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
    QString note; // the text beside the buttons
    bool noteVisible = false;
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
            auto* note = Find<QLabel>(modal, QStringLiteral("laSaved"));
            // The layout makes room for the new text once the events of the press are handled.
            QCoreApplication::processEvents();
            after.note = note->text();
            after.noteVisible = note->isVisible() && note->width() >= note->sizeHint().width();
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

    void saveHandsOverTheWindowAndLocksIt()
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

        // The save got the questionnaire as shown, the clock's time and the lent result list.
        const auto tests = ReadTests(f.tests());
        QVERIFY(tests);
        QCOMPARE(tests->Count(), 1);
        const TvsDBTestRec& t = tests->Items(0);
        const TvsQuestionnaire stored = QuestionnaireOf(t);
        QCOMPARE(stored.Fio, longFio.left(80));
        QCOMPARE(stored.Age, QStringLiteral("35"));
        QCOMPARE(stored.Sex, QStringLiteral("Женский"));
        const QString none = QStringLiteral("Нет ответа");
        QCOMPARE(stored.Answers,
                 (std::array<QString, kQuestionCount>{QStringLiteral("Женат / замужем"), none, none, none,
                                                      QStringLiteral("Другое "), none, QStringLiteral("Высокий")}));
        QCOMPARE(t.Date(), DateTimeToRecordDate(kNow));
        QCOMPARE(t.TypeScore(2), 5);
        QCOMPARE(ReadValues(f.values())->Count(), 4);

        QVERIFY(after.saved);
        QVERIFY(after.visible);
        QVERIFY(after.fioReadOnly);
        QVERIFY(after.fioEnabled);
        QVERIFY(after.ageReadOnly);
        QVERIFY(!after.saveEnabled);
        QCOMPARE(after.enabledCombos, QStringList());
        QVERIFY(!after.askedOnClose);
        QCOMPARE(after.note, QStringLiteral("Тест сохранён (№ 1)"));
        QVERIFY(after.noteVisible);
    }

    void noteNamesTheNumberTheFileGaveTheTest()
    {
        // The number comes from the file, not from a count of this window's saves: a database that
        // already holds tests gives the next one, and every window starts afresh.
        Fixture f;
        QCOMPARE(f.Save([](QWidget*) {}).note, QStringLiteral("Тест сохранён (№ 1)"));
        QCOMPARE(f.Save([](QWidget*) {}).note, QStringLiteral("Тест сохранён (№ 2)"));
        QCOMPARE(f.Save([](QWidget*) {}).note, QStringLiteral("Тест сохранён (№ 3)"));
        QCOMPARE(ReadTests(f.tests())->Items(2).Id(), 3u);
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
        QCOMPARE(after.note, QString());
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

    void answerLogIsHandedOver()
    {
        Fixture f;
        const TvsAnswerLog log = SixAnswers();
        QVERIFY(f.Save([](QWidget*) {}, {}, &log).saved);
        QVERIFY2(f.dialogs.errors.isEmpty(), qPrintable(f.dialogs.errors.join(u'|')));
        const auto answers = ReadAnswers(f.answers());
        QVERIFY(answers);
        QCOMPARE(answers->Count(), 6);
        for (int i = 0; i < 6; ++i) {
            QCOMPARE(answers->Items(i).TestId(), 1u);
            QCOMPARE(answers->Items(i).Question(), quint32(log[size_t(i)].Question));
        }
    }

    void fileLockedByAnotherProgram()
    {
        Fixture f;
        f.Save([](QWidget*) {});
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
        QCOMPARE(after.note, QString());
        QVERIFY(after.saveEnabled);
        QCOMPARE(after.enabledCombos, kCombos);
        QVERIFY(after.askedOnClose);
    }
};

QTEST_MAIN(TestSave)
#include "test_save.moc"
