// The detailed result window: the built-in text, each kind of module, saving, printing, closing.
#include "core/interpretation/ModuleBridge.h"
#include "core/platform/Library.h"
#include "gui/history/uvsDetailedResult.h"
#include "gui/platform/Printing.h"
#include "gui/platform/RichTextDocument.h"
#include "support/HistoryFixtures.h"
#include "support/TestSupport.h"

#include <QFileInfo>
#include <QLocale>
#include <QPrinter>
#include <QPushButton>
#include <QTextBlock>
#include <QTextEdit>
#include <QtTest/QtTest>

#include <array>
#include <cstddef>

using namespace kv;

namespace {

const QDateTime kWhen(QDate(2024, 3, 5), QTime(18, 45));

TvsDBTestRec Respondent(const QString& fio = QStringLiteral("Петрова Анна"))
{
    TvsDBTestRec rec = kvtest::TestRecord(2, fio, kWhen, {0, 7, 0, 3});
    rec.SetAge(34);
    rec.SetSex(2);
    rec.SetSocial(QStringLiteral("Замужем"));
    rec.SetChildren(QStringLiteral("Есть"));
    rec.SetPlaceOfLiving(QStringLiteral("Город"));
    rec.SetEducation(QStringLiteral("Высшее"));
    rec.SetSocialStatus(QStringLiteral("Служащий"));
    rec.SetBussines(QStringLiteral("Образование"));
    rec.SetMaterialLevel(QStringLiteral("Средний"));
    return rec;
}

// A rebuilt ranking: group numbers are positions, value group numbers the catalogue's.
void Ranking(TvsValueTypeList& list)
{
    const int a = list.Add(QStringLiteral("Материальные ценности"), QString());
    TvsValueTypeRec& material = list.Items(a);
    material.Score = 7;
    material.Values = std::make_unique<TvsValueList>();
    material.Values->Items(material.Values->Add(QStringLiteral("Деньги"), 2, material.Name)).Score = 5;
    material.Values->Items(material.Values->Add(QStringLiteral("Дом"), 2, material.Name)).Score = 2;
    const int b = list.Add(QStringLiteral("Витальные ценности"), QString());
    TvsValueTypeRec& vital = list.Items(b);
    vital.Score = 3;
    vital.Values = std::make_unique<TvsValueList>();
    vital.Values->Items(vital.Values->Add(QStringLiteral("Здоровье"), 4, vital.Name)).Score = 3;
}

QStringList HeadLines(const QString& sexText = QStringLiteral("Женский"), const QString& fio = u"Петрова Анна"_qs)
{
    return {QString(),
            QStringLiteral("Здесь Вы можете увидеть только результат тестирования."),
            QStringLiteral("Интерпретацию Вы сможете увидеть после получения модуля составления интерпретации, "
                           "если Вы отправили Ваши результаты Орвело."),
            QString(),
            QStringLiteral("ФИО: ") + fio,
            QStringLiteral("Дата тестирования: ") + kWhen.date().toString(u"dd.MM.yyyy"),
            QStringLiteral("Пол: ") + sexText,
            QStringLiteral("Возраст: 34"),
            QStringLiteral("Семейное положение: Замужем"),
            QStringLiteral("Наличие детей: Есть"),
            QStringLiteral("Место проживания: Город"),
            QStringLiteral("Образование: Высшее"),
            QStringLiteral("Социальный статус: Служащий"),
            QStringLiteral("Сфера деятельности: Образование"),
            QStringLiteral("Уровень материального благосостояния: Средний"),
            QString()};
}

QStringList Paragraphs(const QTextDocument& document)
{
    QStringList lines;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next())
        lines << block.text();
    return lines;
}

// Puts a built module into the stand-in executable folder under the name the program loads.
void InstallModule(const kvtest::ExeDir& dir, const QString& kind)
{
    const QString source = kind == u"real" ? QStringLiteral(KVENDAR_REAL_MODULE)
                                           : QStringLiteral(KVENDAR_TEST_MODULES_DIR "/%1/libkvendarres.so").arg(kind);
    QVERIFY2(QFile::exists(source), qPrintable(source));
    QVERIFY(QFile::copy(source, dir.file(QStringLiteral("libkvendarres.so"))));
}

// One group of three values with the given wins, and answers between them: a circular triad
// (Деньги over Дом, Дом over Здоровье, Здоровье over Деньги), or that log with its last answer lost.
void ThreeValues(TvsValueTypeList& list, const QList<qint32>& wins)
{
    TvsValueTypeRec& group = list.Items(list.Add(QStringLiteral("Материальные ценности"), QString()));
    group.Values = std::make_unique<TvsValueList>();
    const QStringList names = {u"Деньги"_qs, u"Дом"_qs, u"Здоровье"_qs};
    for (int i = 0; i < wins.size(); ++i) {
        group.Values->Items(group.Values->Add(names[i], 2, group.Name)).Score = wins[i];
        group.Score += wins[i];
    }
}

TvsAnswerLog CircularAnswers()
{
    auto answer = [](qint32 question, const QString& upper, const QString& lower, quint8 chosen, quint32 ms) {
        TvsAnswer a;
        a.Question = question;
        a.Upper = upper;
        a.UpperGroup = 2;
        a.Lower = lower;
        a.LowerGroup = 2;
        a.Chosen = chosen;
        a.ResponseMs = ms;
        return a;
    };
    return {answer(1, u"Деньги"_qs, u"Дом"_qs, 1, 1500), answer(2, u"Дом"_qs, u"Здоровье"_qs, 1, 900),
            answer(3, u"Деньги"_qs, u"Здоровье"_qs, 2, 4200)};
}

struct Fixture
{
    kvtest::ExeDir dir;
    kvtest::FakeDialogs dialogs;
    AppContext context{dir.path(), dialogs};
};

} // namespace

class TestDetailed : public QObject
{
    Q_OBJECT

private slots:
    void fallbackText()
    {
        Fixture f;
        TfmDetailedResult window(f.context);
        TvsValueTypeList list;
        Ranking(list);
        window.Compose(Respondent(), list);
        QStringList expected = HeadLines();
        expected << u"Материальные ценности: 7"_qs << u"Деньги: 5"_qs << u"Дом: 2"_qs << QString()
                 << u"Витальные ценности: 3"_qs << u"Здоровье: 3"_qs << QString();
        QCOMPARE(Paragraphs(*window.View()->document()), expected);
        QCOMPARE(window.View()->textCursor().position(), 0);
    }

    void fallbackWithoutRanking_data()
    {
        QTest::addColumn<int>("sex");
        QTest::addColumn<QString>("sexText");
        QTest::newRow("no answer") << 0 << QString();
        QTest::newRow("male") << 1 << u"Мужской"_qs;
        QTest::newRow("unknown code") << 3 << QString();
    }

    void fallbackWithoutRanking()
    {
        QFETCH(int, sex);
        QFETCH(QString, sexText);
        Fixture f;
        TfmDetailedResult window(f.context);
        TvsDBTestRec rec = Respondent();
        rec.SetSex(static_cast<quint8>(sex));
        window.Compose(rec, TvsValueTypeList());
        QCOMPARE(Paragraphs(*window.View()->document()), HeadLines(sexText));
    }

    void longNameShownWhole()
    {
        Fixture f;
        const QString fio = QString(40, u'Ж') + QString(40, u'z');
        TfmDetailedResult window(f.context);
        window.Compose(Respondent(fio), TvsValueTypeList());
        QCOMPARE(window.windowTitle(), QStringLiteral("Интерпретация результатов теста. Тестируемый: ") + fio);
        QCOMPARE(window.PrintTitle(), fio);
        QCOMPARE(Paragraphs(*window.View()->document()).value(4), QStringLiteral("ФИО: ") + fio);
    }

    void modules_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QStringList>("expected"); // the document's paragraphs; empty = check elsewhere
        QTest::newRow("plain text, read from where the module left the stream")
            << u"plain"_qs
            << QStringList{u"fio=Петрова Анна"_qs,
                           u"group 0|Материальные ценности|7"_qs,
                           u"value Деньги|2|Материальные ценности|5"_qs,
                           u"value Дом|2|Материальные ценности|2"_qs,
                           u"group 1|Витальные ценности|3"_qs,
                           u"value Здоровье|4|Витальные ценности|3"_qs,
                           u"read ok, size ok, seek ok"_qs};
        QTest::newRow("stream left at its end: nothing shown") << u"atend"_qs << QStringList{QString()};
        QStringList fallback = HeadLines();
        fallback << u"Материальные ценности: 7"_qs << u"Деньги: 5"_qs << u"Дом: 2"_qs << QString()
                 << u"Витальные ценности: 3"_qs << u"Здоровье: 3"_qs << QString();
        QTest::newRow("no BuildResult: the built-in text") << u"nobuild"_qs << fallback;
        QTest::newRow("RTF") << u"rtf"_qs << QStringList{u"Жирный"_qs, u"обычный"_qs};
    }

    void modules()
    {
        QFETCH(QString, kind);
        QFETCH(QStringList, expected);
        Fixture f;
        InstallModule(f.dir, kind);
        TfmDetailedResult window(f.context);
        TvsValueTypeList list;
        Ranking(list);
        const TvsDBTestRec rec = Respondent();
        const TvsDBTestRec before = rec;
        window.Compose(rec, list);
        QVERIFY(!window.ModuleLoaded());
        QStringList shown = Paragraphs(*window.View()->document());
        if (!shown.isEmpty() && shown.constLast().isEmpty() && expected.size() < shown.size())
            shown.removeLast(); // a closing paragraph mark may leave an empty last block
        QCOMPARE(shown, expected);
        QVERIFY(rec.bytes == before.bytes); // the module scribbled over its own copy only
        QCOMPARE(window.windowTitle(), QStringLiteral("Интерпретация результатов теста. Тестируемый: Петрова Анна"));
        if (kind == u"rtf") {
            const QTextBlock first = window.View()->document()->begin();
            QVERIFY(first.begin().fragment().charFormat().fontWeight() >= QFont::Bold);
            QVERIFY(first.next().begin().fragment().charFormat().fontWeight() < QFont::Bold);
        }
    }

    // A module that exports the second entry point gets the consistency and the answers; from the
    // saved answers when they make a whole comparison, otherwise from the scores, and a module
    // that has only the first entry point is still called through it (the "plain" row above).
    void secondEntryPoint_data()
    {
        QTest::addColumn<QList<qint32>>("wins");
        QTest::addColumn<int>("answers"); // 0 none, 1 the circular log, 2 that log missing its last answer
        QTest::addColumn<QStringList>("expected");
        const QString head = u"via BuildResultEx"_qs, version = u"version 1 size ok"_qs;
        QTest::newRow("saved answers, one circular triad")
            << QList<qint32>{1, 1, 1} << 1
            << QStringList{head,
                           version,
                           u"source 2 n 3 triads 1 of 1 zeta 0.000 p 1.0000 exact 1"_qs,
                           u"triad Деньги>Дом>Здоровье"_qs,
                           u"answer 1|Деньги|2|Дом|2|1|1500"_qs,
                           u"answer 2|Дом|2|Здоровье|2|1|900"_qs,
                           u"answer 3|Деньги|2|Здоровье|2|2|4200"_qs,
                           u"end"_qs};
        // Only the winners are stored: 2 and 1 wins make three values, the third without a win.
        QTest::newRow("no saved answers: from the scores")
            << QList<qint32>{2, 1} << 0
            << QStringList{head, version, u"source 1 n 3 triads 0 of 1 zeta 1.000 p 0.7500 exact 1"_qs, u"end"_qs};
        QTest::newRow("damaged answers: from the scores")
            << QList<qint32>{1, 1, 1} << 2
            << QStringList{head, version, u"source 1 n 3 triads 1 of 1 zeta 0.000 p 1.0000 exact 1"_qs, u"end"_qs};
        QTest::newRow("scores of no comparison")
            << QList<qint32>{5, 2, 3} << 0
            << QStringList{head, version, u"source 0 n 0 triads 0 of 0 zeta 0.000 p 0.0000 exact 0"_qs, u"end"_qs};
    }

    void secondEntryPoint()
    {
        QFETCH(QList<qint32>, wins);
        QFETCH(int, answers);
        QFETCH(QStringList, expected);
        Fixture f;
        InstallModule(f.dir, u"extra"_qs);
        TfmDetailedResult window(f.context);
        TvsValueTypeList list;
        ThreeValues(list, wins);
        TvsAnswerLog log = CircularAnswers();
        if (answers == 2)
            log.pop_back();
        window.Compose(Respondent(), list, answers == 0 ? nullptr : &log);
        QVERIFY(!window.ModuleLoaded());
        QCOMPARE(Paragraphs(*window.View()->document()), expected);
    }

    void realModuleTellsTheConsistency()
    {
        Fixture f;
        InstallModule(f.dir, u"real"_qs);
        TvsValueTypeList list;
        ThreeValues(list, {1, 1, 1});
        const TvsAnswerLog log = CircularAnswers();
        TfmDetailedResult withAnswers(f.context);
        withAnswers.Compose(Respondent(), list, &log);
        const QString text = withAnswers.View()->toPlainText();
        for (const QString& part : {u"Согласованность ответов: 0,00 (1 противоречивая тройка из 1 возможной)."_qs,
                                    u"отвечая наугад: 1. По этому показателю"_qs,
                                    u"«Деньги» важнее «Дом», «Дом» важнее «Здоровье», а «Здоровье» важнее «Деньги»"_qs})
            QVERIFY2(text.contains(part), qPrintable(part + u"\n---\n"_qs + text));

        TvsValueTypeList ordered;
        ThreeValues(ordered, {2, 1});
        TfmDetailedResult fromScores(f.context);
        fromScores.Compose(Respondent(), ordered);
        const QString scoresText = fromScores.View()->toPlainText();
        for (const QString& part : {u"Согласованность ответов: 1,00 (0 противоречивых троек из 1 возможной)."_qs,
                                    u"Ответы этого теста не сохранились"_qs})
            QVERIFY2(scoresText.contains(part), qPrintable(part + u"\n---\n"_qs + scoresText));
        QVERIFY(!scoresText.contains(u"Противоречивые тройки:"_qs));
    }

    // The shipped module reads only as much of the extra data as the program says it filled: an
    // older, smaller struct must not make it read past its end.
    void realModuleReadsOnlyWhatWasFilled_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("headline");
        QTest::addColumn<bool>("triads");
        QTest::newRow("all of it") << int(sizeof(KvResultExtra)) << true << true;
        QTest::newRow("up to the triads") << int(offsetof(KvResultExtra, circularCount)) << true << false;
        QTest::newRow("up to the chance, without whether it is exact")
            << int(offsetof(KvResultExtra, pExact)) << false << false;
    }

    void realModuleReadsOnlyWhatWasFilled()
    {
        QFETCH(int, size);
        QFETCH(bool, headline);
        QFETCH(bool, triads);
        const QFileInfo real(QStringLiteral(KVENDAR_REAL_MODULE));
        Library module;
        QVERIFY(module.Open(real.absolutePath() + u'/', real.fileName()));
        auto build = reinterpret_cast<KvBuildResultExFn>(module.Symbol("BuildResultEx"));
        QVERIFY(build != nullptr);

        TvsValueTypeList list;
        ThreeValues(list, {1, 1, 1});
        const TvsAnswerLog log = CircularAnswers();
        const ModuleExtra extra(ConsistencyFromAnswers(log), &log);
        KvResultExtra shorter = *extra.data();
        shorter.size = uint32_t(size);
        const ModuleResultList results(list);
        std::array<unsigned char, TvsDBTestRec::kSize> record{};
        const TvsDBTestRec rec = Respondent();
        std::copy(rec.bytes.begin(), rec.bytes.end(), record.begin());
        ModuleStream stream;
        build(record.data(), results.data(), &shorter, stream.stream());
        QTextDocument document;
        QVERIFY(LoadRichText(document, stream.fromPosition()));
        const QString text = document.toPlainText();
        QVERIFY(text.contains(u"Интерпретация результатов теста"_qs));
        QCOMPARE(text.contains(u"Согласованность ответов: 0,00"_qs), headline);
        QCOMPARE(text.contains(u"«Деньги» важнее «Дом»"_qs), triads);
        QVERIFY(!text.contains(u"Противоречивых троек нет"_qs));
    }

    void unreadableDocumentEndsCompose()
    {
        Fixture f;
        InstallModule(f.dir, u"binary"_qs);
        TfmDetailedResult window(f.context);
        try {
            window.Compose(Respondent(), TvsValueTypeList());
            QFAIL("no error raised");
        } catch (const Error& e) {
            QCOMPARE(e.message(), QStringLiteral("Failed to Load Stream"));
        }
        QVERIFY(!window.ModuleLoaded());
    }

    void realModuleInterpretsTheRanking()
    {
        Fixture f;
        InstallModule(f.dir, u"real"_qs);
        TfmDetailedResult window(f.context);
        TvsValueTypeList list;
        Ranking(list);
        window.Compose(Respondent(), list);
        const QString text = window.View()->toPlainText();
        for (const QString& part :
             {u"Интерпретация результатов теста"_qs, u"Тестируемый: Петрова Анна, дата тестирования: 05.03.2024"_qs,
              u"Ведущая группа ценностей"_qs,
              u"Больше всего баллов набрала группа Материальные ценности: 7 баллов из 10 (70%)"_qs,
              u"Для Вас особенно важны достаток"_qs, u"1. Деньги — 5 выборов (группа «Материальные ценности»)"_qs,
              u"3. Дом — 2 выбора"_qs, u"Витальные ценности — 3 балла (30%)"_qs, u"Ваши предпочтения выражены ярко"_qs})
            QVERIFY2(text.contains(part), qPrintable(part + u"\n---\n"_qs + text));
        // Headings are bold and the title centred: it really is formatted, not plain text.
        const QTextBlock title = window.View()->document()->begin();
        QCOMPARE(title.blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
        QVERIFY(title.begin().fragment().charFormat().fontWeight() >= QFont::Bold);
        // What the window saves as RTF reads back to the same text.
        QTextDocument back;
        QVERIFY(LoadRichText(back, SaveRtf(*window.View()->document())));
        QCOMPARE(back.toPlainText(), text);
    }

    void installedModuleFolderIsSearchedLast()
    {
        // An installed module lies in the program's private folder, which the loader does not know.
        Fixture f;
        kvtest::ExeDir moduleDir;
        InstallModule(moduleDir, u"real"_qs);
        TvsValueTypeList list;
        Ranking(list);
        {
            TfmDetailedResult window(f.context);
            window.Compose(Respondent(), list);
            QVERIFY(!window.View()->toPlainText().contains(u"Интерпретация результатов теста"_qs));
        }
        f.context.installedModuleDir = moduleDir.path();
        TfmDetailedResult window(f.context);
        window.Compose(Respondent(), list);
        QVERIFY(window.View()->toPlainText().contains(u"Интерпретация результатов теста"_qs));
        QVERIFY(!window.ModuleLoaded());
    }

    // The module is gone once the document is in the view, and the next window without a module
    // of its own falls back to the built-in text rather than finding the old one still loaded.
    void moduleReleasedBeforeShowing()
    {
        {
            Fixture f;
            InstallModule(f.dir, u"real"_qs);
            TfmDetailedResult window(f.context);
            window.Compose(Respondent(), TvsValueTypeList());
            QFile maps(u"/proc/self/maps"_qs);
            QVERIFY(maps.open(QIODevice::ReadOnly));
            QVERIFY(!maps.readAll().contains("libkvendarres.so"));
        }
        Fixture f;
        TfmDetailedResult window(f.context);
        window.Compose(Respondent(), TvsValueTypeList());
        QCOMPARE(Paragraphs(*window.View()->document()), HeadLines());
    }

    void realModuleWithoutChoices()
    {
        Fixture f;
        InstallModule(f.dir, u"real"_qs);
        TfmDetailedResult window(f.context);
        window.Compose(Respondent(), TvsValueTypeList());
        QVERIFY(window.View()->toPlainText().contains(u"интерпретация невозможна"_qs));
    }

    void saveAs_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("plain");
        QTest::newRow("txt") << u"out.txt"_qs << true;
        QTest::newRow("TXT") << u"out.TXT"_qs << true;
        QTest::newRow("tXt") << u"out.tXt"_qs << true;
        QTest::newRow("rtf") << u"out.rtf"_qs << false;
        QTest::newRow("other extension") << u"out.doc"_qs << false;
        QTest::newRow("txt only inside the name") << u"out.txt.bak"_qs << false;
    }

    void saveAs()
    {
        QFETCH(QString, name);
        QFETCH(bool, plain);
        Fixture f;
        TfmDetailedResult window(f.context);
        TvsValueTypeList list;
        Ranking(list);
        window.Compose(Respondent(), list);
        f.dialogs.saveNames << f.dir.file(name);
        window.findChild<QPushButton*>(u"btSaveAs"_qs)->click();
        QVERIFY2(f.dialogs.errors.isEmpty(), qPrintable(f.dialogs.errors.join(u'|')));
        QCOMPARE(f.dialogs.saveFilters, QStringList{u"Rich Text Format (*.rtf)"_qs});
        const QByteArray bytes = f.dir.read(name);
        QCOMPARE(bytes.startsWith("{\\rtf"), !plain);
        if (plain) {
            QCOMPARE(bytes, SavePlainText(*window.View()->document()));
            QVERIFY(bytes.contains(u"\nФИО: Петрова Анна\n"_qs.toUtf8()));
            QVERIFY(!bytes.contains('\r'));
        } else {
            QTextDocument back;
            QVERIFY(LoadRichText(back, bytes));
            // The document, then the chart's picture in a paragraph of its own, which holds no text.
            QCOMPARE(back.toPlainText(), window.View()->toPlainText() + u'\n');
            QVERIFY(bytes.contains("{\\pict\\pngblip"));
        }
    }

    void saveCancelledOrFailing()
    {
        Fixture f;
        TfmDetailedResult window(f.context);
        window.Compose(Respondent(), TvsValueTypeList());
        f.dialogs.saveNames << QString() << f.dir.file(u"no such folder/out.rtf"_qs);
        auto* button = window.findChild<QPushButton*>(u"btSaveAs"_qs);
        button->click();
        QVERIFY(f.dialogs.errors.isEmpty());
        QCOMPARE(QDir(f.dir.path()).entryList(QDir::Files), QStringList());
        button->click();
        QCOMPARE(f.dialogs.errors.size(), 1);
        QVERIFY2(f.dialogs.errors[0].contains(u"no such folder"_qs), qPrintable(f.dialogs.errors[0]));
        QVERIFY2(window.View()->toPlainText().contains(u"ФИО: Петрова Анна"_qs),
                 qPrintable(window.View()->toPlainText()));
    }

    void printsOnThePrinterWithTheName()
    {
        Fixture f;
        const QString pdf = f.dir.file(u"out.pdf"_qs);
        QString docName;
        f.context.printerFactory = [&] {
            auto printer = std::make_unique<QPrinter>();
            printer->setOutputFormat(QPrinter::PdfFormat);
            printer->setOutputFileName(pdf);
            return printer;
        };
        TfmDetailedResult window(f.context);
        window.Compose(Respondent(), TvsValueTypeList());
        window.findChild<QPushButton*>(u"btPrint"_qs)->click();
        QVERIFY2(f.dialogs.errors.isEmpty(), qPrintable(f.dialogs.errors.join(u'|')));
        QFile file(pdf);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(bytes.startsWith("%PDF"));
        // The job's title is the PDF's title (UTF-16BE with a byte-order mark in the info dictionary).
        const QString title = u"Петрова Анна"_qs;
        QByteArray utf16("\xfe\xff");
        for (QChar c : title) {
            utf16.append(char(c.unicode() >> 8));
            utf16.append(char(c.unicode() & 0xff));
        }
        QVERIFY(bytes.contains(utf16));
    }

    void printWithoutPrinterOffersPdf()
    {
        Fixture f;
        f.context.printerFactory = [] { return std::unique_ptr<QPrinter>(); };
        TfmDetailedResult window(f.context);
        window.Compose(Respondent(), TvsValueTypeList());
        const QString before = window.View()->toPlainText();
        const QString pdf = f.dir.file(u"result.pdf"_qs);
        f.dialogs.answers = {QMessageBox::Yes};
        f.dialogs.saveNames = {pdf};
        window.findChild<QPushButton*>(u"btPrint"_qs)->click();
        QVERIFY(f.dialogs.errors.isEmpty());
        QCOMPARE(f.dialogs.messages.size(), 2);
        QVERIFY(f.dialogs.messages[0].text.startsWith(NoPrinterMessage()));
        QVERIFY(f.dialogs.messages[1].text.contains(pdf));
        QFile file(pdf);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().startsWith("%PDF"));
        QCOMPARE(window.View()->toPlainText(), before);
    }

    void printWithoutPrinterDeclined()
    {
        Fixture f;
        f.context.printerFactory = [] { return std::unique_ptr<QPrinter>(); };
        TfmDetailedResult window(f.context);
        window.Compose(Respondent(), TvsValueTypeList());
        window.findChild<QPushButton*>(u"btPrint"_qs)->click();
        QCOMPARE(f.dialogs.messages.size(), 1);
        QVERIFY(f.dialogs.saveFilters.isEmpty());
        QVERIFY(f.dialogs.errors.isEmpty());
    }

    void closing_data()
    {
        QTest::addColumn<bool>("escape");
        QTest::newRow("Esc in the view") << true;
        QTest::newRow("Закрыть") << false;
    }

    void closing()
    {
        QFETCH(bool, escape);
        Fixture f;
        TfmDetailedResult window(f.context);
        bool focused = false;
        auto met = kvtest::AnswerModal([&](QWidget* modal) {
            focused = modal->focusWidget() == window.View();
            if (escape)
                QTest::keyClick(window.View(), Qt::Key_Escape);
            else
                window.findChild<QPushButton*>(u"btClose"_qs)->click();
        });
        QTimer::singleShot(4000, &window, [&] { window.done(77); }); // only if neither way closed it
        window.Execute(Respondent(), TvsValueTypeList());
        QVERIFY(*met);
        QVERIFY(focused);
        QCOMPARE(window.result(), escape ? int(QDialog::Rejected) : int(QDialog::Accepted));
        auto* close = window.findChild<QPushButton*>(u"btClose"_qs);
        QVERIFY(close->isDefault());
    }

    void buttonsFollowTheRightEdge_data()
    {
        QTest::addColumn<int>("width");
        QTest::newRow("designed") << 640;
        QTest::newRow("widened") << 1000;
    }

    void buttonsFollowTheRightEdge()
    {
        QFETCH(int, width);
        Fixture f;
        TfmDetailedResult window(f.context);
        window.resize(width, 400);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto* panel = window.findChild<QWidget*>(u"pnBottom"_qs);
        auto* close = window.findChild<QPushButton*>(u"btClose"_qs);
        auto* print = window.findChild<QPushButton*>(u"btPrint"_qs);
        auto* save = window.findChild<QPushButton*>(u"btSaveAs"_qs);
        QTRY_COMPARE(panel->width(), width);
        QCOMPARE(panel->height(), 41);
        QCOMPARE(close->geometry().right() + 1, width - 8);
        QCOMPARE(print->geometry().right() + 1, close->x() - 8);
        QCOMPARE(save->geometry().right() + 1, print->x() - 8);
    }
};

QTEST_MAIN(TestDetailed)
#include "test_detailed.moc"
