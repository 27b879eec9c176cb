// The detailed result window: the built-in text, each kind of module, saving, printing, closing.
#include "database/uvsDetailedResult.h"
#include "platform/Printing.h"
#include "platform/RichTextDocument.h"
#include "test_testgrid_fixtures.h"

#include <QLocale>
#include <QPrinter>
#include <QPushButton>
#include <QTextBlock>
#include <QTextEdit>
#include <QtTest/QtTest>

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
            QStringLiteral("Дата тестирования: ") + QLocale::system().toString(kWhen.date(), QLocale::ShortFormat),
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
            QVERIFY(bytes.contains(kvtest::Cp(u"ФИО: Петрова Анна"_qs)));
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

    void printWithoutPrinter()
    {
        Fixture f;
        f.context.printerFactory = [] { return std::unique_ptr<QPrinter>(); };
        TfmDetailedResult window(f.context);
        window.Compose(Respondent(), TvsValueTypeList());
        const QString before = window.View()->toPlainText();
        window.findChild<QPushButton*>(u"btPrint"_qs)->click();
        QCOMPARE(f.dialogs.errors, QStringList{NoPrinterMessage()});
        QCOMPARE(window.View()->toPlainText(), before);
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
