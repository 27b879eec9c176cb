// The results window: the questionnaire as laid out, the mail text and its link, the age filter,
// printing, copying and the close question.
#include "core/session/MailText.h"
#include "core/session/Questionnaire.h"
#include "gui/platform/Printing.h"
#include "gui/results/uvsResults.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTextEdit>
#include <QtTest/QtTest>

using namespace kv;
using namespace Qt::StringLiterals;

// Stands in for the desktop's mail program.
class MailCatcher : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> urls;

public slots:
    void open(const QUrl& url) { urls << url; }
};

namespace {

template <typename T> T* Find(QWidget* window, const QString& name)
{
    T* child = window->findChild<T*>(name);
    if (child == nullptr)
        qFatal("no %s", qPrintable(name));
    return child;
}

// One group of score 3 holding three values of score 1 each, and a second of score 1.
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
    add(3, QStringLiteral("Эмоциональные ценности"),
        {{QStringLiteral("Любовь"), 1}, {QStringLiteral("Дружба & верность"), 1}, {QStringLiteral("Радость 100%"), 1}});
    add(1, QStringLiteral("Идеологические ценности"), {{QStringLiteral("Справедливость"), 1}});
}

struct Fixture
{
    kvtest::FakeDialogs dialogs;
    kvtest::ExeDir exe;
    AppContext context{exe.path(), dialogs};
    TvsValueTypeList result;
    TfmResults window{context};

    Fixture() { FillResults(result); }

    QTabWidget* tabs() { return Find<QTabWidget>(&window, QStringLiteral("pcData")); }
    QTextEdit* mail() { return Find<QTextEdit>(&window, QStringLiteral("reMail")); }
    QLineEdit* age() { return Find<QLineEdit>(&window, QStringLiteral("edAge")); }

    // Runs the window modally; inside is called on it once it is up, and the window is then closed
    // with a scripted Yes unless inside closed it already.
    void Run(const std::function<void(QWidget*)>& inside, const TvsAnswerLog* answers = nullptr)
    {
        auto met = kvtest::AnswerModal([&](QWidget* modal) {
            // Focus and keyboard checks need the window active, which may lag behind showing it.
            QVERIFY(QTest::qWaitForWindowActive(modal));
            inside(modal);
            if (modal->isVisible()) {
                dialogs.answers = {QMessageBox::Yes};
                Find<QPushButton>(modal, QStringLiteral("btClose"))->click();
            }
        });
        window.Execute(result, answers);
        QVERIFY(*met);
    }
};

QStringList Lines(QTextEdit* edit)
{
    return edit->toPlainText().split(u'\n');
}

} // namespace

class TestResultsWindow : public QObject
{
    Q_OBJECT

private slots:
    void questionnaireLabels_data()
    {
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("text");
        QTest::newRow("fio") << u"laFio"_s << u"edFio"_s << QStringLiteral("Фамлиля, имя, отчество:");
        QTest::newRow("age") << u"laAge"_s << u"edAge"_s << QStringLiteral("Возраст:");
        QTest::newRow("sex") << u"laSex"_s << u"cxSex"_s << QStringLiteral("Пол:");
        QTest::newRow("social") << u"laSocial"_s << u"cxSocial"_s << QStringLiteral("Семейное положение:");
        QTest::newRow("children") << u"laChildren"_s << u"cxChildren"_s << QStringLiteral("Наличие детей:");
        QTest::newRow("place") << u"laPlaceOfLiving"_s << u"cxPlaceOfLiving"_s << QStringLiteral("Место проживания:");
        QTest::newRow("education") << u"laEducation"_s << u"cxEducation"_s << QStringLiteral("Образование:");
        QTest::newRow("status") << u"laSocialStatus"_s << u"cxSocialStatus"_s << QStringLiteral("Социальный статус:");
        QTest::newRow("business") << u"laBussines"_s << u"cxBussines"_s << QStringLiteral("Сфера деятельности:");
        QTest::newRow("material") << u"laMaterialLevel"_s << u"cxMaterialLevel"_s
                                  << QStringLiteral("Уровень материального благосостояния:");
        QTest::newRow("note") << u"laToUser"_s << u"meToUser"_s << QStringLiteral("Уважаемый испытуемый!");
    }

    void questionnaireLabels()
    {
        QFETCH(QString, label);
        QFETCH(QString, field);
        QFETCH(QString, text);
        Fixture f;
        auto* la = Find<QLabel>(&f.window, label);
        QCOMPARE(la->text(), text);
        // The buddy is what lets a screen reader announce the question with its field.
        QCOMPARE(la->buddy(), Find<QWidget>(&f.window, field));
    }

    void formListsAreTheQuestionnaire()
    {
        Fixture f;
        // Every drop-down list of the window, in the form's order, is one question of the table, and
        // its label asks what the table says.
        const QList<QComboBox*> boxes = f.window.findChildren<QComboBox*>();
        QStringList shownNames;
        for (const QComboBox* box : boxes)
            shownNames << box->objectName();
        QStringList tableNames;
        for (const TvsChoiceQuestion* question : ChoiceQuestions())
            tableNames << question->Control;
        QCOMPARE(shownNames, tableNames);
        for (const TvsChoiceQuestion* question : ChoiceQuestions()) {
            const auto* box = Find<QComboBox>(&f.window, question->Control);
            QStringList shown;
            for (int i = 0; i < box->count(); ++i)
                shown << box->itemText(i);
            QCOMPARE(shown, question->Items);
            QCOMPARE(Find<QLabel>(&f.window, u"la"_s + question->Control.mid(2))->text(), question->Label + u':');
        }
    }

    void dropDownItems_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("items");
        const QString none = QStringLiteral("Нет ответа");
        QTest::newRow("sex") << u"cxSex"_s << QStringList{none, QStringLiteral("Мужской"), QStringLiteral("Женский")};
        QTest::newRow("social") << u"cxSocial"_s
                                << QStringList{none, QStringLiteral("Холост"), QStringLiteral("Гражданский брак"),
                                               QStringLiteral("Женат / замужем"),
                                               QStringLiteral("Разведен / разведена")};
        QTest::newRow("children") << u"cxChildren"_s
                                  << QStringList{none,
                                                 QStringLiteral("Нет детей"),
                                                 QStringLiteral("Один ребенок"),
                                                 QStringLiteral("Два ребенка"),
                                                 QStringLiteral("Три и более детей"),
                                                 QStringLiteral("Врослые самостоятельные дети"),
                                                 QStringLiteral("Другое")};
        QTest::newRow("place") << u"cxPlaceOfLiving"_s
                               << QStringList{none,
                                              QStringLiteral("Москва"),
                                              QStringLiteral("Санкт-Петербург"),
                                              QStringLiteral("Областной, краевой центр"),
                                              QStringLiteral("Районный центр"),
                                              QStringLiteral("Поселок, село")};
        QTest::newRow("education") << u"cxEducation"_s
                                   << QStringList{none, QStringLiteral("Среднее"),
                                                  QStringLiteral("Среднее специальное"), QStringLiteral("Высшее"),
                                                  QStringLiteral("Академическое")};
        QTest::newRow("status") << u"cxSocialStatus"_s
                                << QStringList{none,
                                               QStringLiteral("Учащийся, студент, аспирант"),
                                               QStringLiteral("Рабочий"),
                                               QStringLiteral("Безработный"),
                                               QStringLiteral("Госслужайщий / бюджетник"),
                                               QStringLiteral("Сотрудник коммерческой компании"),
                                               QStringLiteral("Топ-менеджер, руководитель"),
                                               QStringLiteral("Бизнесмен / предприниматель"),
                                               QStringLiteral("Пенсионер"),
                                               QStringLiteral("Безработный"),
                                               QStringLiteral("Другое ")};
        QTest::newRow("business") << u"cxBussines"_s
                                  << QStringList{none,
                                                 QStringLiteral("Политика"),
                                                 QStringLiteral("Властные структуры"),
                                                 QStringLiteral("СМИ"),
                                                 QStringLiteral("Производство"),
                                                 QStringLiteral("Торговля"),
                                                 QStringLiteral("Здравоохранение"),
                                                 QStringLiteral("Образование"),
                                                 QStringLiteral("Услуги населению"),
                                                 QStringLiteral("Услуги предприятиям"),
                                                 QStringLiteral("Частный бизнес"),
                                                 QStringLiteral("Другое")};
        QTest::newRow("material") << u"cxMaterialLevel"_s
                                  << QStringList{none,
                                                 QStringLiteral("Недостаточный"),
                                                 QStringLiteral("Низкий"),
                                                 QStringLiteral("Ниже среднего"),
                                                 QStringLiteral("Средний"),
                                                 QStringLiteral("Выше среднего"),
                                                 QStringLiteral("Высокий")};
    }

    void dropDownItems()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, items);
        Fixture f;
        auto* box = Find<QComboBox>(&f.window, name);
        QStringList shown;
        for (int i = 0; i < box->count(); ++i)
            shown << box->itemText(i);
        QCOMPARE(shown, items);
        QCOMPARE(box->currentIndex(), 0);
        QVERIFY2(!box->isEditable(), "only the listed items may be chosen");
    }

    void windowParts()
    {
        Fixture f;
        QCOMPARE(f.window.windowTitle(), QStringLiteral("Результаты тестирования"));
        // The consistency tab, then the chart's, come after the questionnaire's two.
        QCOMPARE(f.tabs()->count(), 4);
        QCOMPARE(f.tabs()->tabText(0), QStringLiteral("Личные данные"));
        QCOMPARE(f.tabs()->tabText(1), QStringLiteral("Текст письма"));
        QCOMPARE(f.tabs()->widget(2)->objectName(), QStringLiteral("tsConsistency"));
        QCOMPARE(f.tabs()->tabText(2), QStringLiteral("Согласованность"));
        QCOMPARE(f.tabs()->tabText(3), QStringLiteral("Диаграмма"));
        // The form was left on the mail tab; the window still opens on the questionnaire.
        QCOMPARE(f.tabs()->currentWidget()->objectName(), QStringLiteral("tsPrivateData"));
        QVERIFY(f.mail()->toPlainText().isEmpty());
        QCOMPARE(Find<QLabel>(&f.window, QStringLiteral("laFioComment"))->text(),
                 QStringLiteral("(можно остаться инкогнито)"));
        QCOMPARE(Find<QLabel>(&f.window, QStringLiteral("laAgeComment"))->text(), QStringLiteral("полных лет"));
        QCOMPARE(Find<QLabel>(&f.window, QStringLiteral("laSend"))
                     ->text()
                     .contains(QStringLiteral(">Отправить письмо Орвело<")),
                 true);
        QCOMPARE(Find<QPushButton>(&f.window, QStringLiteral("btPrint"))->text(), QStringLiteral("Печать"));
        QCOMPARE(Find<QPushButton>(&f.window, QStringLiteral("btSave"))->text(), QStringLiteral("Сохранить"));
        QCOMPARE(Find<QPushButton>(&f.window, QStringLiteral("btClose"))->text(), QStringLiteral("Закрыть"));
        QVERIFY(!f.window.IsSaved());

        // Questionnaire order is the tab order, and the window's own order is tabs, save, close.
        const QStringList expected = {u"pcData"_s,         u"edFio"_s,      u"edAge"_s,           u"cxSex"_s,
                                      u"cxSocial"_s,       u"cxChildren"_s, u"cxPlaceOfLiving"_s, u"cxEducation"_s,
                                      u"cxSocialStatus"_s, u"cxBussines"_s, u"cxMaterialLevel"_s, u"meToUser"_s,
                                      u"btSave"_s,         u"btClose"_s};
        QStringList chain;
        QWidget* w = f.tabs();
        for (int i = 0; i < 200 && chain.size() < expected.size(); ++i, w = w->nextInFocusChain())
            if (expected.contains(w->objectName()) && !chain.contains(w->objectName()))
                chain << w->objectName();
        QCOMPARE(chain, expected);
    }

    // The third tab tells the respondent how consistent the answers were: from the answer log with
    // the circular triads named, or from the scores alone when there is no log.
    void consistencyTab()
    {
        Fixture f;
        auto answer = [](int question, const QString& upper, const QString& lower, quint8 chosen) {
            TvsAnswer a;
            a.Question = question;
            a.Upper = upper;
            a.UpperGroup = 3;
            a.Lower = lower;
            a.LowerGroup = 3;
            a.Chosen = chosen;
            return a;
        };
        const QString love = u"Любовь"_s, friends = u"Дружба & верность"_s, joy = u"Радость 100%"_s;
        const TvsAnswerLog log = {answer(1, love, friends, 1), answer(2, friends, joy, 1), answer(3, love, joy, 2)};
        QStringList shown;
        f.Run(
            [&](QWidget* modal) {
                f.tabs()->setCurrentIndex(2);
                auto* text = Find<QTextEdit>(modal, u"reConsistency"_s);
                QVERIFY(text->isVisible());
                QVERIFY(text->isReadOnly());
                shown = Lines(text);
            },
            &log);
        QCOMPARE(shown.value(0), u"Согласованность ответов: 0,00 (1 противоречивая тройка из 1 возможной)"_s);
        QCOMPARE(shown.mid(shown.size() - 2),
                 QStringList({u"Противоречивые тройки:"_s,
                              u"    «Любовь» важнее «Дружба & верность», «Дружба & верность» важнее «Радость 100%», "
                              u"а «Радость 100%» важнее «Любовь»"_s}));

        // Without a log: the scores of the result list, 3, 2, 1 and 0 wins of four values.
        Fixture g;
        const QList<int> scores = {2, 1, 0, 3};
        int i = 0;
        for (int k = 0; k < g.result.Count(); ++k)
            for (int v = 0; v < g.result.Items(k).Values->Count(); ++v)
                g.result.Items(k).Values->Items(v).Score = scores[i++];
        g.Run([&](QWidget* modal) { shown = Lines(Find<QTextEdit>(modal, u"reConsistency"_s)); });
        QCOMPARE(shown.value(0), u"Согласованность ответов: 1,00 (0 противоречивых троек из 2 возможных)"_s);
        QVERIFY2(shown.last().contains(u"не записаны"_s), qPrintable(shown.last()));
    }

    void noteToTheRespondent()
    {
        Fixture f;
        const QStringList lines =
            Find<QPlainTextEdit>(&f.window, QStringLiteral("meToUser"))->toPlainText().split(u'\n');
        QCOMPARE(lines.size(), 19);
        QList<int> empty;
        for (int i = 0; i < lines.size(); ++i)
            if (lines[i].isEmpty())
                empty << i + 1;
        QCOMPARE(empty, QList<int>({3, 7, 13, 16}));
        QCOMPARE(lines.mid(16), QStringList({QStringLiteral("С благодарностью,"), QStringLiteral("Орвело."),
                                             QStringLiteral("01.09.2003 Санкт-Петербург")}));
        const QString text = lines.join(u' ');
        QVERIFY(text.contains(QString::fromUtf16(kAuthorAddress)));
        QVERIFY(text.contains(QStringLiteral("Текст письма")));
        QVERIFY(text.contains(QStringLiteral("Нет ответа")));
        QVERIFY(text.contains(QStringLiteral("России")));
    }

    void mailTextFollowsTheQuestionnaire()
    {
        Fixture f;
        QStringList firstLook, afterEditAndBack;
        const TvsValueTypeList* lentDuringRun = nullptr;
        f.Run([&](QWidget* modal) {
            lentDuringRun = f.window.ResultList();
            Find<QLineEdit>(modal, QStringLiteral("edFio"))->setText(QStringLiteral("Иванова А. Б."));
            Find<QComboBox>(modal, QStringLiteral("cxSex"))->setCurrentIndex(2);
            Find<QComboBox>(modal, QStringLiteral("cxSocialStatus"))->setCurrentIndex(10);
            f.tabs()->setCurrentIndex(1);
            firstLook = Lines(f.mail());
            f.mail()->setPlainText(QStringLiteral("своё"));
            f.tabs()->setCurrentIndex(0);
            QCOMPARE(f.mail()->toPlainText(), QStringLiteral("своё")); // the first tab changes nothing
            f.tabs()->setCurrentIndex(1);
            afterEditAndBack = Lines(f.mail());
        });
        QCOMPARE(lentDuringRun, &f.result);
        QCOMPARE(f.window.ResultList(), nullptr);
        QCOMPARE(firstLook.size(), 15 + 5 + 3);
        QCOMPARE(firstLook[0], QStringLiteral("ФИО: Иванова А. Б."));
        QCOMPARE(firstLook[1], QStringLiteral("Возраст: "));
        QCOMPARE(firstLook[2], QStringLiteral("Пол: Женский"));
        QCOMPARE(firstLook[4], QStringLiteral("Социальное положение: Нет ответа"));
        QCOMPARE(firstLook[9], QStringLiteral("Социальный статус: Другое "));
        QCOMPARE(firstLook[13], QStringLiteral("Выбранные ценности:"));
        QCOMPARE(firstLook.mid(15),
                 QStringList({QStringLiteral("Эмоциональные ценности: 3"), QStringLiteral("    Любовь: 1"),
                              QStringLiteral("    Дружба & верность: 1"), QStringLiteral("    Радость 100%: 1"),
                              QString(), QStringLiteral("Идеологические ценности: 1"),
                              QStringLiteral("    Справедливость: 1"), QString()}));
        QCOMPARE(afterEditAndBack, firstLook);
    }

    void mailLinkSendsTheTextAsShown()
    {
        Fixture f;
        MailCatcher catcher;
        QDesktopServices::setUrlHandler(QStringLiteral("mailto"), &catcher, "open");
        f.Run([&](QWidget* modal) {
            f.tabs()->setCurrentIndex(1);
            // An edit made before clicking is what goes out.
            f.mail()->setPlainText(
                f.mail()->toPlainText().replace(QStringLiteral("ФИО: "), QStringLiteral("ФИО: Я & #1")));
            auto* link = Find<QLabel>(modal, QStringLiteral("laSend"));
            QTest::mouseClick(link, Qt::LeftButton, {}, QPoint(12, link->height() / 2));
            // And from the keyboard: Tab from the text onto the link, then Enter.
            f.mail()->setFocus();
            QTest::keyClick(f.mail(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), link);
            QTest::keyClick(link, Qt::Key_Return);
        });
        QDesktopServices::unsetUrlHandler(QStringLiteral("mailto"));
        QCOMPARE(catcher.urls.size(), 2);
        QCOMPARE(catcher.urls[1], catcher.urls[0]);
        // A mail program took it: nothing to say.
        QVERIFY(f.dialogs.copyOffers.isEmpty());
        const QByteArray url = catcher.urls[0].toEncoded();
        const QByteArray head = "mailto:" + QString::fromUtf16(kAuthorAddress).toUtf8() +
                                "?subject=%D0%9A%D0%B2%D0%B5%D0%BD%D0%B4%D0%B0%D1%80&body=";
        QVERIFY2(url.startsWith(head), url.constData());
        const QByteArray body = url.mid(head.size());
        // "ФИО: Я & #1", then "Возраст: ", "Пол: Нет ответа" and the empty line after it.
        QVERIFY2(body.startsWith(
                     "%D0%A4%D0%98%D0%9E%3A%20%D0%AF%20%26%20%231%0D%0A"
                     "%D0%92%D0%BE%D0%B7%D1%80%D0%B0%D1%81%D1%82%3A%20%0D%0A"
                     "%D0%9F%D0%BE%D0%BB%3A%20%D0%9D%D0%B5%D1%82%20%D0%BE%D1%82%D0%B2%D0%B5%D1%82%D0%B0%0D%0A%0D%0A"),
                 body.constData());
        QVERIFY(!body.contains(' ') && !body.contains('&') && !body.contains('#'));
        QStringList decoded;
        for (const QByteArray& line : QByteArray(body).replace("%0D%0A", "\n").split('\n'))
            decoded << QUrl::fromPercentEncoding(line);
        QCOMPARE(decoded, Lines(f.mail()));
    }

    void ageKeepsDigitsOnly()
    {
        Fixture f;
        QLineEdit* age = f.age();
        f.window.show();
        age->setFocus();
        QTest::keyClicks(age, QStringLiteral("3x5-"));
        QCOMPARE(age->text(), QStringLiteral("35"));
        for (QChar c : QStringLiteral("лЖ"))
            QTest::sendKeyEvent(QTest::Click, age, Qt::Key_unknown, QString(c), Qt::NoModifier);
        QCOMPARE(age->text(), QStringLiteral("35"));
        QTest::keyClick(age, Qt::Key_Backspace);
        QCOMPARE(age->text(), QStringLiteral("3"));
        QTest::keyClicks(age, QStringLiteral("07"));
        QTest::keyClick(age, Qt::Key_Left);
        QTest::keyClick(age, Qt::Key_Delete); // keys that type nothing still work
        QCOMPARE(age->text(), QStringLiteral("30"));
        // Ctrl+V pastes as in any edit, and the pasted text keeps its digits only.
        QApplication::clipboard()->setText(QStringLiteral("9 и 9"));
        QTest::sendKeyEvent(QTest::Click, age, Qt::Key_V, QString(QChar(0x16)), Qt::ControlModifier);
        QCOMPARE(age->text(), QStringLiteral("3099"));
        // Text set from outside the keyboard (a drop, an input method) is held to the same rule.
        age->selectAll();
        age->insert(QStringLiteral("x1ж2"));
        QCOMPARE(age->text(), QStringLiteral("12"));
    }

    void closeQuestion_data()
    {
        QTest::addColumn<int>("way"); // 0 Escape, 1 "Закрыть", 2 the title bar
        QTest::newRow("escape") << 0;
        QTest::newRow("close button") << 1;
        QTest::newRow("title bar") << 2;
    }

    void closeQuestion()
    {
        QFETCH(int, way);
        Fixture f;
        bool stayedOnNo = false;
        auto closeOnce = [&](QWidget* modal) {
            if (way == 0)
                QTest::keyClick(modal, Qt::Key_Escape);
            else if (way == 1)
                Find<QPushButton>(modal, QStringLiteral("btClose"))->click();
            else
                modal->close();
        };
        f.Run([&](QWidget* modal) {
            f.dialogs.answers = {QMessageBox::No};
            closeOnce(modal);
            stayedOnNo = modal->isVisible();
            f.dialogs.answers = {QMessageBox::Yes};
            closeOnce(modal);
        });
        QVERIFY(stayedOnNo);
        QVERIFY(!f.window.isVisible());
        QCOMPARE(f.dialogs.messages.size(), 2);
        QCOMPARE(f.dialogs.messages[0].kind, Dialogs::Kind::Warning);
        QCOMPARE(f.dialogs.messages[0].text, QStringLiteral("Результаты теста не будут сохранены. Закрыть окно?"));
        QCOMPARE(f.dialogs.messages[0].buttons, QMessageBox::Yes | QMessageBox::No);
    }

    void mailLinkWithoutMailProgramOffersTheText_data()
    {
        QTest::addColumn<bool>("copy");
        QTest::newRow("Копировать") << true;
        QTest::newRow("Закрыть") << false;
    }

    void mailLinkWithoutMailProgramOffersTheText()
    {
        QFETCH(bool, copy);
        Fixture f;
        f.dialogs.desktopOpensUrls = false;
        f.dialogs.copyAnswers = {copy};
        QApplication::clipboard()->setText(QStringLiteral("прежнее содержимое"));
        QString shown;
        f.Run([&](QWidget* modal) {
            f.tabs()->setCurrentIndex(1);
            f.mail()->append(QStringLiteral("Приписка от руки"));
            shown = f.mail()->toPlainText();
            auto* link = Find<QLabel>(modal, QStringLiteral("laSend"));
            QTest::mouseClick(link, Qt::LeftButton, {}, QPoint(12, link->height() / 2));
        });
        QCOMPARE(f.dialogs.openedUrls.size(), 1);
        QVERIFY(f.dialogs.openedUrls[0].toString().startsWith(QStringLiteral("mailto:")));
        QCOMPARE(f.dialogs.copyOffers.size(), 1);
        // The box says what failed and where the letter should go.
        QVERIFY2(f.dialogs.copyOffers[0].contains(QString::fromUtf16(kAuthorAddress)),
                 qPrintable(f.dialogs.copyOffers[0]));
        QVERIFY(f.dialogs.copyOffers[0].contains(QStringLiteral("почты")));
        QVERIFY(f.dialogs.errors.isEmpty());
        QCOMPARE(QApplication::clipboard()->text(), copy ? shown : QStringLiteral("прежнее содержимое"));
    }

    void printsTheMailText()
    {
        Fixture f;
        QTemporaryDir dir;
        const QString pdf = dir.filePath(QStringLiteral("mail.pdf"));
        f.context.printerFactory = [&] {
            auto printer = std::make_unique<QPrinter>();
            printer->setOutputFormat(QPrinter::PdfFormat);
            printer->setOutputFileName(pdf);
            return printer;
        };
        f.Run([&](QWidget* modal) {
            f.tabs()->setCurrentIndex(1);
            f.mail()->append(QStringLiteral("Приписка от руки"));
            Find<QPushButton>(modal, QStringLiteral("btPrint"))->click();
        });
        QVERIFY(f.dialogs.errors.isEmpty());
        QVERIFY(QFileInfo(pdf).size() > 0);
        if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
            QSKIP("pdftotext is not installed; only the file was checked");
        QProcess p;
        p.start(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
        QVERIFY(p.waitForFinished(30000));
        const QString text = QString::fromUtf8(p.readAllStandardOutput());
        QVERIFY2(text.contains(QStringLiteral("Выбранные ценности:")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("Приписка от руки")), qPrintable(text));
    }

    void printWithoutPrinterOffersPdf_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("tab");
        QTest::addColumn<QString>("printed");
        QTest::newRow("mail text") << u"btPrint"_s << 1 << QStringLiteral("Выбранные ценности:");
        QTest::newRow("chart") << u"btPrintChart"_s << 3 << QStringLiteral("Эмоциональные");
    }

    void printWithoutPrinterOffersPdf()
    {
        QFETCH(QString, button);
        QFETCH(int, tab);
        QFETCH(QString, printed);
        Fixture f;
        f.context.printerFactory = [] { return std::unique_ptr<QPrinter>(); };
        const QString pdf = f.exe.file(QStringLiteral("письмо.pdf"));
        bool stillOpen = false;
        f.Run([&](QWidget* modal) {
            f.tabs()->setCurrentIndex(tab);
            f.dialogs.answers = {QMessageBox::Yes};
            f.dialogs.saveNames = {pdf};
            Find<QPushButton>(modal, button)->click();
            stillOpen = modal->isVisible();
        });
        QVERIFY(stillOpen);
        QVERIFY(f.dialogs.errors.isEmpty());
        QVERIFY(f.dialogs.messages.size() >= 2);
        QVERIFY2(f.dialogs.messages[0].text.startsWith(NoPrinterMessage()), qPrintable(f.dialogs.messages[0].text));
        QVERIFY(f.dialogs.messages[1].text.contains(pdf));
        QVERIFY(QFileInfo(pdf).size() > 0);
        if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
            QSKIP("pdftotext is not installed; only the file was checked");
        QProcess p;
        p.start(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
        QVERIFY(p.waitForFinished(30000));
        const QString text = QString::fromUtf8(p.readAllStandardOutput());
        QVERIFY2(text.contains(printed), qPrintable(text));
    }

    void contextMenuSelectsAndCopies()
    {
        Fixture f;
        f.Run([&](QWidget*) {
            f.tabs()->setCurrentIndex(1);
            auto* menu = Find<QMenu>(&f.window, QStringLiteral("pmResults"));
            auto* selectAll = Find<QAction>(&f.window, QStringLiteral("miSelectAll"));
            auto* copy = Find<QAction>(&f.window, QStringLiteral("miCopy"));
            QCOMPARE(menu->actions(), QList<QAction*>({selectAll, copy}));
            QCOMPARE(selectAll->text(), QStringLiteral("Выделить все"));
            QCOMPARE(copy->text(), QStringLiteral("Скопировать"));
            QCOMPARE(selectAll->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_A));
            QCOMPARE(copy->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Insert));

            QApplication::clipboard()->clear();
            selectAll->trigger();
            copy->trigger();
            QCOMPARE(QApplication::clipboard()->text().split(u'\n'), Lines(f.mail()));

            // The same from the keyboard, on a part of the text.
            QApplication::clipboard()->clear();
            QTextCursor cursor(f.mail()->document());
            cursor.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor, 3);
            f.mail()->setTextCursor(cursor);
            f.mail()->setFocus();
            QTest::keyClick(f.mail(), Qt::Key_Insert, Qt::ControlModifier);
            QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("ФИО"));
            QTest::keyClick(f.mail(), Qt::Key_A, Qt::ControlModifier);
            QCOMPARE(f.mail()->textCursor().selectedText().size(), f.mail()->toPlainText().size());
        });
    }
};

QTEST_MAIN(TestResultsWindow)
#include "test_results_window.moc"
