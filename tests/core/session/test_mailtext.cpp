// The mail text built from the questionnaire and the ranking, the mailto: link made of it, and the
// characters the age field admits.
#include "core/session/MailText.h"

#include <QtTest/QtTest>

using namespace kv;

namespace {

TvsQuestionnaire Unanswered()
{
    const QString none = QStringLiteral("Нет ответа");
    return {QString(), QString(), none, none, none, none, none, none, none, none};
}

void AddGroup(TvsValueTypeList& result, int number, const QString& name, const QList<QPair<QString, int>>& values)
{
    TvsValueTypeRec& group = result.Items(result.Add(name, QString()));
    group.Number = number;
    group.Values = std::make_unique<TvsValueList>();
    for (const auto& [valueName, score] : values) {
        group.Values->Items(group.Values->Add(valueName, number, name)).Score = score;
        group.Score += score;
    }
}

// The body of a mailto: URL as written: the part after "&body=".
QByteArray Body(const QByteArray& url)
{
    const qsizetype at = url.indexOf("&body=");
    return at < 0 ? QByteArray() : url.mid(at + 6);
}

} // namespace

class TestMailText : public QObject
{
    Q_OBJECT

private slots:
    void unansweredQuestionnaireAndOneGroup()
    {
        TvsValueTypeList result;
        AddGroup(result, 2, QStringLiteral("Витальные"),
                 {{QStringLiteral("Здоровье"), 1}, {QStringLiteral("Спорт"), 1}, {QStringLiteral("Отдых"), 1}});
        const QStringList expected = {
            QStringLiteral("ФИО: "),
            QStringLiteral("Возраст: "),
            QStringLiteral("Пол: Нет ответа"),
            QString(),
            QStringLiteral("Социальное положение: Нет ответа"),
            QStringLiteral("Наличие детей: Нет ответа"),
            QStringLiteral("Место проживания: Нет ответа"),
            QStringLiteral("Образование: Нет ответа"),
            QString(),
            QStringLiteral("Социальный статус: Нет ответа"),
            QStringLiteral("Сфера деятельности: Нет ответа"),
            QStringLiteral("Уровень материального благосостояния: Нет ответа"),
            QString(),
            QStringLiteral("Выбранные ценности:"),
            QString(),
            QStringLiteral("Витальные: 3"),
            QStringLiteral("    Здоровье: 1"),
            QStringLiteral("    Спорт: 1"),
            QStringLiteral("    Отдых: 1"),
            QString(),
        };
        QCOMPARE(BuildMailLines(Unanswered(), result), expected);
    }

    void answersGoToTheirOwnLines()
    {
        const TvsQuestionnaire answers = {QStringLiteral("Петров П. П."), QStringLiteral("35"),
                                          QStringLiteral("Женский"),      QStringLiteral("Холост"),
                                          QStringLiteral("Два ребенка"),  QStringLiteral("Москва"),
                                          QStringLiteral("Высшее"),       QStringLiteral("Другое "),
                                          QStringLiteral("СМИ"),          QStringLiteral("Высокий")};
        TvsValueTypeList result;
        AddGroup(result, 4, QStringLiteral("Идейные"), {{QStringLiteral("Свобода"), 4}});
        AddGroup(result, 1, QStringLiteral("Материальные"), {{QStringLiteral("Дом"), 2}, {QString(), 1}});
        const QStringList lines = BuildMailLines(answers, result);
        QCOMPARE(lines.size(), 15 + 3 + 4);
        QCOMPARE(lines[0], QStringLiteral("ФИО: Петров П. П."));
        QCOMPARE(lines[1], QStringLiteral("Возраст: 35"));
        QCOMPARE(lines[2], QStringLiteral("Пол: Женский"));
        QCOMPARE(lines[4], QStringLiteral("Социальное положение: Холост"));
        QCOMPARE(lines[5], QStringLiteral("Наличие детей: Два ребенка"));
        QCOMPARE(lines[6], QStringLiteral("Место проживания: Москва"));
        QCOMPARE(lines[7], QStringLiteral("Образование: Высшее"));
        QCOMPARE(lines[9], QStringLiteral("Социальный статус: Другое "));
        QCOMPARE(lines[10], QStringLiteral("Сфера деятельности: СМИ"));
        QCOMPARE(lines[11], QStringLiteral("Уровень материального благосостояния: Высокий"));
        QCOMPARE(lines.mid(15), QStringList({QStringLiteral("Идейные: 4"), QStringLiteral("    Свобода: 4"), QString(),
                                             QStringLiteral("Материальные: 3"), QStringLiteral("    Дом: 2"),
                                             QStringLiteral("    : 1"), QString()}));
    }

    void mailtoUrl_data()
    {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("blanks, empty line, reserved characters, Cyrillic")
            << QStringList{QStringLiteral("Пол: Нет ответа"), QString(), QStringLiteral("Дом & семья #1: 100%"),
                           QStringLiteral("    Ёлка: 2")}
            << QByteArray("%D0%9F%D0%BE%D0%BB%3A%20%D0%9D%D0%B5%D1%82%20%D0%BE%D1%82%D0%B2%D0%B5%D1%82%D0%B0"
                          "%0D%0A%0D%0A"
                          "%D0%94%D0%BE%D0%BC%20%26%20%D1%81%D0%B5%D0%BC%D1%8C%D1%8F%20%231%3A%20100%25"
                          "%0D%0A%20%20%20%20%D0%81%D0%BB%D0%BA%D0%B0%3A%202");
        QTest::newRow("query delimiters") << QStringList{QStringLiteral("a+b=c?/")} << QByteArray("a%2Bb%3Dc%3F%2F");
        QTest::newRow("unreserved kept") << QStringList{QStringLiteral("A-z_0.9~")} << QByteArray("A-z_0.9~");
        QTest::newRow("nothing after the last line")
            << QStringList{QStringLiteral("x"), QString()} << QByteArray("x%0D%0A");
        QTest::newRow("empty text") << QStringList{QString()} << QByteArray();
    }

    void mailtoUrl()
    {
        QFETCH(QStringList, lines);
        QFETCH(QByteArray, body);
        const QByteArray url =
            BuildMailtoUrl(QStringLiteral("orvelo@kvendar.example"), QStringLiteral("Квендар"), lines);
        QVERIFY2(
            url.startsWith("mailto:orvelo@kvendar.example?subject=%D0%9A%D0%B2%D0%B5%D0%BD%D0%B4%D0%B0%D1%80&body="),
            url.constData());
        QCOMPARE(Body(url), body);
        // The link must survive a parse by a strict URL reader unchanged.
        const QUrl parsed = QUrl::fromEncoded(url, QUrl::StrictMode);
        QVERIFY2(parsed.isValid(), qPrintable(parsed.errorString()));
        QCOMPARE(parsed.toEncoded(), url);
    }

    void ageCharacters_data()
    {
        QTest::addColumn<QString>("chars");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("digits") << QStringLiteral("0123456789") << true;
        QTest::newRow("backspace") << QStringLiteral("\b") << true;
        QTest::newRow("latin letters") << QStringLiteral("aZ") << false;
        QTest::newRow("cyrillic") << QStringLiteral("оЗ") << false;
        QTest::newRow("sign and blank") << QStringLiteral("-+ ") << false;
        QTest::newRow("ctrl+v, tab, delete") << QStringLiteral("\x16\t\x7f") << false;
        QTest::newRow("other digits") << QStringLiteral("٣") << false; // Arabic-Indic three
    }

    void ageCharacters()
    {
        QFETCH(QString, chars);
        QFETCH(bool, accepted);
        for (QChar c : chars)
            QVERIFY2(IsAgeCharAccepted(c) == accepted, qPrintable(QString::number(c.unicode())));
    }
};

QTEST_GUILESS_MAIN(TestMailText)
#include "test_mailtext.moc"
