// The standard error box: its text rule, the real box's look, and that a failing handler leaves the
// program running.
#include "core/platform/Errors.h"
#include "gui/platform/ErrorBox.h"
#include "gui/platform/Translation.h"
#include "support/TestSupport.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest/QtTest>

using namespace kv;

class TestErrorBox : public QObject
{
    Q_OBJECT

private slots:
    void fullStopRule_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("shown");
        QTest::newRow("letter") << QStringLiteral("Запись не найдена") << QStringLiteral("Запись не найдена.");
        QTest::newRow("closing bracket") << QStringLiteral("List index out of bounds (5)")
                                         << QStringLiteral("List index out of bounds (5)");
        QTest::newRow("full stop kept") << QStringLiteral("Невозможно создать базу данных.")
                                        << QStringLiteral("Невозможно создать базу данных.");
        QTest::newRow("digit") << QStringLiteral("Ошибка 5") << QStringLiteral("Ошибка 5.");
        QTest::newRow("question mark") << QStringLiteral("Да?") << QStringLiteral("Да?.");
        QTest::newRow("exclamation") << QStringLiteral("Стоп!") << QStringLiteral("Стоп!");
        QTest::newRow("quote") << QStringLiteral("'x' is not a valid integer value")
                               << QStringLiteral("'x' is not a valid integer value.");
        QTest::newRow("empty") << QString() << QString();
    }

    void fullStopRule()
    {
        QFETCH(QString, message);
        QFETCH(QString, shown);
        QCOMPARE(ErrorBoxText(message), shown);
    }

    void runHandlerCatchesAndReports()
    {
        kvtest::FakeDialogs dialogs;
        QWidget window;
        int after = 0;
        QVERIFY(!RunHandler(&window, dialogs, [] { throw ListIndexError(7); }));
        QVERIFY(!RunHandler(&window, dialogs, [] { throw std::runtime_error("plain"); }));
        QVERIFY(RunHandler(&window, dialogs, [&] { ++after; }));
        QCOMPARE(after, 1);
        QCOMPARE(dialogs.errors,
                 QStringList({QStringLiteral("List index out of bounds (7)"), QStringLiteral("plain")}));
    }

    void realBoxHasTitleStopIconAndOneOk()
    {
        InstallRussianTranslation(*QCoreApplication::instance());
        QtDialogs dialogs;
        QString title, text, buttonText;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        int buttons = 0;
        auto met = kvtest::AnswerModal([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            QVERIFY(box != nullptr);
            title = box->windowTitle();
            text = box->text();
            icon = box->icon();
            buttons = box->buttons().size();
            buttonText = box->buttons().constFirst()->text();
            box->buttons().constFirst()->click();
        });
        QWidget window;
        QVERIFY(!RunHandler(&window, dialogs, [] { throw Error(QStringLiteral("Записи не найдены")); }));
        QVERIFY(*met);
        QCOMPARE(title, QStringLiteral("Квендар v1.0"));
        QCOMPARE(text, QStringLiteral("Записи не найдены."));
        QCOMPARE(icon, QMessageBox::Critical);
        QCOMPARE(buttons, 1);
        QCOMPARE(buttonText.remove(u'&'), QStringLiteral("OK"));
    }

    void russianStandardButtons()
    {
        InstallRussianTranslation(*QCoreApplication::instance());
        QtDialogs dialogs;
        QStringList texts;
        auto met = kvtest::AnswerModal([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            for (QAbstractButton* b : box->buttons())
                texts.append(b->text().remove(u'&'));
            box->button(QMessageBox::No)->click();
        });
        const auto answer = dialogs.Message(nullptr, Dialogs::Kind::Confirmation, QStringLiteral("Продолжить?"),
                                            QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        QVERIFY(*met);
        QCOMPARE(answer, QMessageBox::No);
        texts.sort();
        QCOMPARE(texts, QStringList({QStringLiteral("Да"), QStringLiteral("Нет"), QStringLiteral("Отмена")}));
    }

    void realCopyOffer_data()
    {
        QTest::addColumn<QString>("press");
        QTest::addColumn<bool>("copied");
        QTest::newRow("Копировать") << QStringLiteral("Копировать") << true;
        QTest::newRow("Закрыть") << QStringLiteral("Закрыть") << false;
        QTest::newRow("Esc") << QStringLiteral("Esc") << false;
    }

    void realCopyOffer()
    {
        QFETCH(QString, press);
        QFETCH(bool, copied);
        QtDialogs dialogs;
        QStringList texts;
        QString text;
        auto met = kvtest::AnswerModal([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            QVERIFY(box != nullptr);
            text = box->text();
            for (QAbstractButton* b : box->buttons())
                texts.append(b->text());
            if (press == QLatin1String("Esc"))
                QTest::keyClick(box, Qt::Key_Escape);
            else
                QVERIFY(kvtest::ClickButton(box, press));
        });
        QCOMPARE(dialogs.OfferCopy(nullptr, QStringLiteral("Адрес: https://example.org")), copied);
        QVERIFY(*met);
        QCOMPARE(text, QStringLiteral("Адрес: https://example.org"));
        texts.sort();
        QCOMPARE(texts, QStringList({QStringLiteral("Закрыть"), QStringLiteral("Копировать")}));
    }
};

QTEST_MAIN(TestErrorBox)
#include "test_errorbox.moc"
