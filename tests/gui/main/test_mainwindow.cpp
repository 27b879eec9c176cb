// The main window driven as a respondent would: double-clicks in both trees, the live count and its
// painting, adding a value of one's own, and a catalogue that fails to load.
#include "gui/main/kvendar_main.h"
#include "gui/platform/PaintHooks.h"
#include "gui/widgets/NodeTag.h"
#include "support/TestSupport.h"

#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest/QtTest>

using namespace kv;
using kvtest::Cp;

namespace {

void WriteCatalogue(const kvtest::ExeDir& dir)
{
    dir.write(QStringLiteral("config.ini"), Cp(QStringLiteral("[MAIN]\r\nLines=lines.txt\r\n[ValueTypes]\r\n"
                                                              "ValueTypeName1=Идеи\r\nValueTypeItems1=g1.txt\r\n"
                                                              "ValueTypeName2=Вещи\r\nValueTypeItems2=g2.txt\r\n"
                                                              "ValueTypeName3=Чувства\r\nValueTypeItems3=g3.txt\r\n"
                                                              "ValueTypeName4=Жизнь\r\nValueTypeItems4=g4.txt\r\n")));
    dir.write(QStringLiteral("g1.txt"), QByteArray("beta\r\nAlpha\r\ngamma"));
    dir.write(QStringLiteral("g2.txt"), Cp(QStringLiteral("Дом\r\nОбщее")));
    dir.write(QStringLiteral("g3.txt"), Cp(QStringLiteral("Любовь\r\nОбщее")));
    dir.write(QStringLiteral("g4.txt"), Cp(QStringLiteral("Здоровье")));
    dir.write(QStringLiteral("lines.txt"), Cp(QStringLiteral("Первая строка\r\nВторая строка")));
}

QTreeWidgetItem* Find(QTreeWidget* tree, const QString& group, const QString& text)
{
    for (int g = 0; g < tree->topLevelItemCount(); ++g) {
        QTreeWidgetItem* heading = tree->topLevelItem(g);
        if (heading->text(0) != group)
            continue;
        if (text.isNull())
            return heading;
        for (int i = 0; i < heading->childCount(); ++i)
            if (heading->child(i)->text(0) == text)
                return heading->child(i);
    }
    return nullptr;
}

void DoubleClick(QTreeWidget* tree, QTreeWidgetItem* item)
{
    QVERIFY(item != nullptr);
    if (item->parent() != nullptr)
        item->parent()->setExpanded(true);
    tree->scrollToItem(item);
    const QPoint at = tree->visualItemRect(item).center();
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, at);
}

// "heading: child, child; heading: ..." of a tree.
QString Shape(QTreeWidget* tree)
{
    QStringList groups;
    for (int g = 0; g < tree->topLevelItemCount(); ++g) {
        QTreeWidgetItem* heading = tree->topLevelItem(g);
        QStringList children;
        for (int i = 0; i < heading->childCount(); ++i)
            children.append(heading->child(i)->text(0));
        groups.append(heading->text(0) + QStringLiteral(": ") + children.join(QStringLiteral(", ")));
    }
    return groups.join(QStringLiteral("; "));
}

bool IsGrey(QTreeWidgetItem* item)
{
    return item->data(0, Qt::ForegroundRole).isValid();
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private:
    struct Fixture
    {
        kvtest::ExeDir dir;
        kvtest::FakeDialogs dialogs;
        AppContext context{dir.path(), dialogs};
        std::unique_ptr<TfmMain> window;
        QTreeWidget* source = nullptr;
        QTreeWidget* checked = nullptr;

        explicit Fixture(bool writeCatalogue = true)
        {
            if (writeCatalogue)
                WriteCatalogue(dir);
            window = std::make_unique<TfmMain>(context);
            window->resize(700, 500);
            window->show();
            if (!QTest::qWaitForWindowExposed(window.get()))
                qFatal("main window not exposed");
            source = window->findChild<QTreeWidget*>(QStringLiteral("tvSource"));
            checked = window->findChild<QTreeWidget*>(QStringLiteral("tvChecked"));
        }
    };

private slots:
    void startUpShowsCatalogueSortedAndCountZero()
    {
        Fixture f;
        QVERIFY(f.dialogs.errors.isEmpty());
        QCOMPARE(f.window->windowTitle(), QStringLiteral("Квендар v 1.0"));
        QCOMPARE(Shape(f.source),
                 QStringLiteral("Идеи: Alpha, beta, gamma, Добавить...; Вещи: Дом, Общее, Добавить...; "
                                "Чувства: Любовь, Общее, Добавить...; Жизнь: Здоровье, Добавить..."));
        QVERIFY(f.source->topLevelItem(0)->isExpanded());
        QVERIFY(!f.source->topLevelItem(1)->isExpanded());
        QCOMPARE(f.window->CheckedCountText(), QStringLiteral("Количество выбранных ценностей: 0"));
        QCOMPARE(f.window->findChild<QPlainTextEdit*>(QStringLiteral("meLines"))->toPlainText(),
                 QStringLiteral("Первая строка\nВторая строка"));
        // Every node carries the tag of its kind and group.
        const TvsNodeTag* add = NodeTag(Find(f.source, QStringLiteral("Жизнь"), QStringLiteral("Добавить...")));
        QVERIFY(add != nullptr);
        QCOMPARE(int(add->Kind), int(kAddNode));
        QCOMPARE(add->TypeNumber, 4);
        QCOMPARE(int(NodeTag(f.source->topLevelItem(2))->Kind), int(kGroupNode));
    }

    void choosingAndTakingBack()
    {
        Fixture f;
        // Group 3 first, then group 1: headings stand in the order of first use.
        DoubleClick(f.source, Find(f.source, QStringLiteral("Чувства"), QStringLiteral("Любовь")));
        DoubleClick(f.source, Find(f.source, QStringLiteral("Идеи"), QStringLiteral("gamma")));
        DoubleClick(f.source, Find(f.source, QStringLiteral("Идеи"), QStringLiteral("Alpha")));
        QCOMPARE(Shape(f.checked), QStringLiteral("Чувства: Любовь; Идеи: gamma, Alpha"));
        QCOMPARE(f.window->CheckedCount(), 3);
        QVERIFY(IsGrey(Find(f.source, QStringLiteral("Идеи"), QStringLiteral("gamma"))));
        QVERIFY(!IsGrey(Find(f.source, QStringLiteral("Идеи"), QStringLiteral("beta"))));

        // A grey value is chosen at most once.
        DoubleClick(f.source, Find(f.source, QStringLiteral("Идеи"), QStringLiteral("gamma")));
        QCOMPARE(f.window->CheckedCount(), 3);
        QCOMPARE(Shape(f.checked), QStringLiteral("Чувства: Любовь; Идеи: gamma, Alpha"));

        // A heading changes nothing.
        DoubleClick(f.checked, Find(f.checked, QStringLiteral("Идеи"), QString()));
        QCOMPARE(f.window->CheckedCount(), 3);

        // Taking back the only value of a group removes its heading.
        DoubleClick(f.checked, Find(f.checked, QStringLiteral("Чувства"), QStringLiteral("Любовь")));
        QCOMPARE(Shape(f.checked), QStringLiteral("Идеи: gamma, Alpha"));
        QCOMPARE(f.window->CheckedCount(), 2);
        QCOMPARE(f.window->CheckedCountText(), QStringLiteral("Количество выбранных ценностей: 2"));
        QVERIFY(!IsGrey(Find(f.source, QStringLiteral("Чувства"), QStringLiteral("Любовь"))));
    }

    void enterChoosesAndTakesBack()
    {
        Fixture f;
        f.source->setFocus();
        f.source->setCurrentItem(Find(f.source, QStringLiteral("Идеи"), QStringLiteral("beta")));
        QTest::keyClick(f.source, Qt::Key_Return);
        QCOMPARE(Shape(f.checked), QStringLiteral("Идеи: beta"));
        f.checked->setCurrentItem(Find(f.checked, QStringLiteral("Идеи"), QStringLiteral("beta")));
        QTest::keyClick(f.checked, Qt::Key_Enter);
        QCOMPARE(f.checked->topLevelItemCount(), 0);
        QCOMPARE(f.window->CheckedCount(), 0);
    }

    void sameTextInTwoGroupsIsToldApart()
    {
        Fixture f;
        DoubleClick(f.source, Find(f.source, QStringLiteral("Вещи"), QStringLiteral("Общее")));
        DoubleClick(f.source, Find(f.source, QStringLiteral("Чувства"), QStringLiteral("Общее")));
        QCOMPARE(Shape(f.checked), QStringLiteral("Вещи: Общее; Чувства: Общее"));
        DoubleClick(f.checked, Find(f.checked, QStringLiteral("Чувства"), QStringLiteral("Общее")));
        QCOMPARE(Shape(f.checked), QStringLiteral("Вещи: Общее"));
        QVERIFY(IsGrey(Find(f.source, QStringLiteral("Вещи"), QStringLiteral("Общее"))));
        QVERIFY(!IsGrey(Find(f.source, QStringLiteral("Чувства"), QStringLiteral("Общее"))));
    }

    void counterIsPainted()
    {
        Fixture f;
        QWidget* panel = f.window->findChild<QWidget*>(QStringLiteral("pnCheckedTree"));
        QWidget* strip = f.window->findChild<QWidget*>(QStringLiteral("blCount"));
        const QRect area = strip->geometry().adjusted(8, 2, -2, -2);
        const auto darkPixels = [&] {
            const QImage image = panel->grab(area).toImage();
            int dark = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    dark += qGray(image.pixel(x, y)) < 80 ? 1 : 0;
            return std::pair{dark, image};
        };
        const auto [darkAtZero, imageAtZero] = darkPixels();
        QVERIFY2(darkAtZero > 50, "no text painted in the counter strip");
        for (const char* v : {"Alpha", "beta", "gamma"})
            DoubleClick(f.source, Find(f.source, QStringLiteral("Идеи"), QLatin1String(v)));
        QCOMPARE(f.window->CheckedCount(), 3);
        const auto [darkAtThree, imageAtThree] = darkPixels();
        QVERIFY(darkAtThree > 50);
        QVERIFY2(imageAtZero != imageAtThree, "the painted counter did not follow the count");
    }

    void addingAValue()
    {
        Fixture f;
        QString seenGroup;
        auto met = kvtest::AnswerModal([&](QWidget* dialog) {
            seenGroup = dialog->findChild<QLabel*>(QStringLiteral("laType"))->text();
            auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("edValue"));
            QVERIFY(edit->text().isEmpty());
            QCOMPARE(dialog->focusWidget(), static_cast<QWidget*>(edit));
            for (const QChar ch : QStringLiteral("Мечта"))
                QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QString(ch), Qt::NoModifier);
            QTest::keyClick(edit, Qt::Key_Return); // Enter presses the default button, OK
        });
        DoubleClick(f.source, Find(f.source, QStringLiteral("Вещи"), QStringLiteral("Добавить...")));
        QVERIFY(*met);
        QCOMPARE(seenGroup, QStringLiteral("Группа: Вещи"));
        QCOMPARE(Shape(f.source).section(QStringLiteral("; "), 1, 1),
                 QStringLiteral("Вещи: Дом, Общее, Мечта, Добавить..."));
        QCOMPARE(f.source->currentItem()->text(0), QStringLiteral("Мечта"));
        QCOMPARE(f.dir.read(QStringLiteral("g2.txt")), Cp(QStringLiteral("Дом\r\nОбщее\r\nМечта")));
        const TvsValueList& values = *f.window->ValueTypes().Items(1).Values;
        QCOMPARE(values.Items(values.Count() - 1).Name, QStringLiteral("Мечта"));

        // The new value can be chosen like any other.
        DoubleClick(f.source, f.source->currentItem());
        QCOMPARE(Shape(f.checked), QStringLiteral("Вещи: Мечта"));
    }

    void cancellingTheAddDialogChangesNothing()
    {
        Fixture f;
        const QString before = Shape(f.source);
        auto met = kvtest::AnswerModal([](QWidget* dialog) {
            auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("edValue"));
            QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QStringLiteral("x"), Qt::NoModifier);
            QTest::keyClick(edit, Qt::Key_Escape);
        });
        DoubleClick(f.source, Find(f.source, QStringLiteral("Жизнь"), QStringLiteral("Добавить...")));
        QVERIFY(*met);
        QCOMPARE(Shape(f.source), before);
        QCOMPARE(f.dir.read(QStringLiteral("g4.txt")), Cp(QStringLiteral("Здоровье")));
    }

    void addingToADeletedItemFileCreatesNothing()
    {
        Fixture f;
        QFile::remove(f.dir.file(QStringLiteral("g4.txt")));
        auto met = kvtest::AnswerModal([](QWidget* dialog) {
            auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("edValue"));
            QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QStringLiteral("z"), Qt::NoModifier);
            QVERIFY(kvtest::ClickButton(dialog, QStringLiteral("ОК")));
        });
        DoubleClick(f.source, Find(f.source, QStringLiteral("Жизнь"), QStringLiteral("Добавить...")));
        QVERIFY(*met);
        QVERIFY(Find(f.source, QStringLiteral("Жизнь"), QStringLiteral("z")) != nullptr);
        QVERIFY(!QFile::exists(f.dir.file(QStringLiteral("g4.txt"))));
        QVERIFY(f.dialogs.errors.isEmpty());
    }

    void missingLinesFileIsReportedAndTreeStaysEmpty()
    {
        kvtest::ExeDir dir;
        WriteCatalogue(dir);
        QFile::remove(dir.file(QStringLiteral("lines.txt")));
        kvtest::FakeDialogs dialogs;
        AppContext context{dir.path(), dialogs};
        TfmMain window(context);
        QCOMPARE(dialogs.errors.size(), 1);
        QVERIFY(dialogs.errors.constFirst().contains(QStringLiteral("lines.txt")));
        QCOMPARE(window.findChild<QTreeWidget*>(QStringLiteral("tvSource"))->topLevelItemCount(), 0);
        QCOMPARE(window.ValueTypes().Count(), 4); // the groups were read before the failure
        QVERIFY(!window.findChild<HookedPanel*>(QStringLiteral("pnCheckedTree"))->HasAfterPaint());
    }

    void unusableUserFolderShowsTheShippedCatalogueReadOnly()
    {
        // An installed run whose user folder could not be made: the shipped catalogue is read
        // where it lies, the reason is told once, and adding a value never writes into it.
        kvtest::ExeDir exe;
        kvtest::ExeDir shipped;
        WriteCatalogue(shipped);
        kvtest::FakeDialogs dialogs;
        AppContext context{exe.path(), dialogs};
        context.places.mode = AppPlaces::Mode::Installed;
        context.places.catalogueDir = shipped.path();
        context.places.dataHome = exe.path() + QStringLiteral("nowhere/");
        context.places.catalogueReadOnly = true;
        context.places.storageError = QStringLiteral("Не удаётся создать папку данных «/home/u/.local/share/kvendar»");
        TfmMain window(context);
        QCOMPARE(dialogs.errors, QStringList{context.places.storageError});
        auto* source = window.findChild<QTreeWidget*>(QStringLiteral("tvSource"));
        QCOMPARE(Shape(source).section(QStringLiteral("; "), 3, 3), QStringLiteral("Жизнь: Здоровье, Добавить..."));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        auto met = kvtest::AnswerModal([](QWidget* dialog) {
            auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("edValue"));
            QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QStringLiteral("z"), Qt::NoModifier);
            QVERIFY(kvtest::ClickButton(dialog, QStringLiteral("ОК")));
        });
        DoubleClick(source, Find(source, QStringLiteral("Жизнь"), QStringLiteral("Добавить...")));
        QVERIFY(*met);
        QVERIFY(Find(source, QStringLiteral("Жизнь"), QStringLiteral("z")) != nullptr);
        QCOMPARE(shipped.read(QStringLiteral("g4.txt")), Cp(QStringLiteral("Здоровье")));
        QCOMPARE(dialogs.errors.size(), 1);
        QVERIFY(!QFileInfo::exists(exe.file(QStringLiteral("g4.txt"))));
    }

    void installedRunReadsAndExtendsTheUserCatalogue()
    {
        kvtest::ExeDir exe; // no config.ini here: the catalogue lives elsewhere
        kvtest::ExeDir user;
        WriteCatalogue(user);
        kvtest::FakeDialogs dialogs;
        AppContext context{exe.path(), dialogs};
        context.places.mode = AppPlaces::Mode::Installed;
        context.places.catalogueDir = user.path();
        context.places.dataHome = user.path();
        TfmMain window(context);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(dialogs.errors.isEmpty());
        QCOMPARE(window.findChild<QPlainTextEdit*>(QStringLiteral("meLines"))->toPlainText(),
                 QStringLiteral("Первая строка\nВторая строка"));
        auto* source = window.findChild<QTreeWidget*>(QStringLiteral("tvSource"));
        auto met = kvtest::AnswerModal([](QWidget* dialog) {
            auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("edValue"));
            QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QStringLiteral("z"), Qt::NoModifier);
            QVERIFY(kvtest::ClickButton(dialog, QStringLiteral("ОК")));
        });
        DoubleClick(source, Find(source, QStringLiteral("Жизнь"), QStringLiteral("Добавить...")));
        QVERIFY(*met);
        QCOMPARE(user.read(QStringLiteral("g4.txt")), Cp(QStringLiteral("Здоровье\r\nz")));
        QCOMPARE(context.dataDir(), user.path() + QStringLiteral("Data"));
    }

    void bottomButtonsFollowTheRightEdge()
    {
        Fixture f;
        auto* panel = f.window->findChild<QWidget*>(QStringLiteral("pnBottom"));
        auto* exit = f.window->findChild<QPushButton*>(QStringLiteral("bbExit"));
        auto* test = f.window->findChild<QPushButton*>(QStringLiteral("bbTest"));
        for (int width : {600, 900}) {
            f.window->resize(width, 480);
            QTRY_COMPARE(panel->width(), f.window->centralWidget()->width());
            QCOMPARE(exit->x(), panel->width() - exit->width() - 16);
            QCOMPARE(test->x(), exit->x() - test->width() - 8);
            QCOMPARE(exit->y(), 8);
        }
    }
};

QTEST_MAIN(TestMainWindow)
#include "test_mainwindow.moc"
