// Drives an installed kvendar32 from inside, as a library preloaded into it (LD_PRELOAD), so that
// the install check runs the real executable with its real paths and the program itself keeps no
// test options. It is built with the tests and installed nowhere.
//
// KVENDAR_DRIVE=save (the default): choose three values, answer every pair, save the test, close
// the results, open the saved test from the history as a detailed result (saying whether the
// interpretation module composed it), close everything and the main window; the process then ends
// with the program's own exit code.
// KVENDAR_DRIVE=error: expect one error box at start-up, print its text and leave.
// Anything unexpected (a message box during a save, a window that never comes, a minute without
// progress) prints why and ends the process with exit code 3.
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QTableView>
#include <QTextEdit>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest/QTest>

#include <cstdio>
#include <cstdlib>

using namespace Qt::StringLiterals;

namespace {

[[noreturn]] void Fail(const QString& why)
{
    std::fprintf(stderr, "kvendar-drive: %s\n", why.toUtf8().constData());
    std::fflush(stderr);
    std::_Exit(3);
}

void Say(const QString& what)
{
    std::fprintf(stderr, "kvendar-drive: %s\n", what.toUtf8().constData());
    std::fflush(stderr);
}

template <typename T> T* Child(QWidget* window, const char* name)
{
    T* child = window->findChild<T*>(QString::fromLatin1(name));
    if (child == nullptr)
        Fail(QStringLiteral("%1 has no %2").arg(window->objectName(), QString::fromLatin1(name)));
    return child;
}

// A click that runs from the event loop, so a modal window it opens does not stop the driver's
// own timer, which keeps ticking inside that window's loop.
void ClickLater(QAbstractButton* button)
{
    QTimer::singleShot(0, button, &QAbstractButton::click);
}

class Driver final : public QObject
{
public:
    explicit Driver(bool expectError) : m_expectError(expectError)
    {
        m_clock.start();
        connect(&m_timer, &QTimer::timeout, this, &Driver::Tick);
        m_timer.start(100);
    }

private:
    enum class Stage
    {
        Choose,
        Compare,
        Saved,
        ResultsClosed,
        History,
        Detailed,
        Done
    };

    void Tick()
    {
        if (m_clock.elapsed() > 60000)
            Fail(QStringLiteral("no progress within a minute (stage %1)").arg(int(m_stage)));
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            if (!m_expectError)
                Fail(QStringLiteral("unexpected message: ") + box->text());
            Say(QStringLiteral("error box: ") + box->text());
            std::_Exit(0);
        }
        if (modal != nullptr) {
            Modal(modal);
            return;
        }
        QMainWindow* main = MainWindow();
        if (main == nullptr)
            return;
        if (m_expectError) {
            if (m_clock.elapsed() > 5000)
                Fail(QStringLiteral("no error box came"));
            return;
        }
        if (m_stage == Stage::Choose) {
            Choose(main);
        } else if (m_stage == Stage::ResultsClosed) {
            Say(QStringLiteral("test saved"));
            m_stage = Stage::History;
            QTimer::singleShot(0, Child<QAction>(main, "miTestResults"), &QAction::trigger);
        } else if (m_stage == Stage::Done) {
            m_timer.stop();
            Say(QStringLiteral("leaving"));
            ClickLater(Child<QAbstractButton>(main, "bbExit"));
        }
    }

    static QMainWindow* MainWindow()
    {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == QLatin1String("TfmMain") && w->isVisible())
                return qobject_cast<QMainWindow*>(w);
        return nullptr;
    }

    void Choose(QMainWindow* main)
    {
        auto* tree = Child<QTreeWidget>(main, "tvSource");
        if (tree->topLevelItemCount() == 0)
            Fail(QStringLiteral("the catalogue tree is empty"));
        QTreeWidgetItem* group = tree->topLevelItem(0);
        group->setExpanded(true);
        if (group->childCount() < 4)
            Fail(QStringLiteral("the first group has fewer than three values"));
        // Enter on a value chooses it, as a double-click does.
        for (int i = 0; i < 3; ++i) {
            tree->setCurrentItem(group->child(i));
            QTest::keyClick(tree, Qt::Key_Return);
        }
        Say(QStringLiteral("catalogue of %1 groups shown, three values chosen").arg(tree->topLevelItemCount()));
        m_stage = Stage::Compare;
        ClickLater(Child<QAbstractButton>(main, "bbTest"));
    }

    void Modal(QWidget* modal)
    {
        const QString name = modal->objectName();
        if (name == QLatin1String("TfmValuesCompare") && m_stage == Stage::Compare) {
            ClickLater(Child<QAbstractButton>(modal, "bbItem1"));
            return;
        }
        if (name == QLatin1String("TfmResults")) {
            auto* save = Child<QAbstractButton>(modal, "btSave");
            if (m_stage == Stage::Compare) {
                Child<QLineEdit>(modal, "edFio")->setText(QStringLiteral("Проверка установки"));
                m_stage = Stage::Saved;
                ClickLater(save);
            } else if (m_stage == Stage::Saved && !save->isEnabled()) {
                m_stage = Stage::ResultsClosed;
                ClickLater(Child<QAbstractButton>(modal, "btClose"));
            }
            return;
        }
        if (name == QLatin1String("TfmTestGrid") && m_stage == Stage::History) {
            auto* grid = Child<QTableView>(modal, "sgTest");
            if (grid->model() == nullptr || grid->model()->rowCount() == 0)
                Fail(QStringLiteral("the history lists no test"));
            const QModelIndex first = grid->model()->index(0, 0);
            grid->setCurrentIndex(first);
            m_stage = Stage::Detailed;
            QTimer::singleShot(0, grid, [grid, first] { emit grid->doubleClicked(first); });
            return;
        }
        if (name == QLatin1String("TfmDetailedResult") && m_stage == Stage::Detailed) {
            const QString text = Child<QTextEdit>(modal, "reMain")->toPlainText();
            if (text.trimmed().isEmpty())
                Fail(QStringLiteral("the detailed result is empty"));
            // The module's document opens with its own title; the built-in text does not.
            const bool byModule = text.contains(QStringLiteral("Интерпретация результатов теста"));
            Say(QStringLiteral("detailed result composed by the %1").arg(byModule ? u"module"_qs : u"program"_qs));
            m_stage = Stage::Done;
            ClickLater(Child<QAbstractButton>(modal, "btClose"));
            return;
        }
        if (name == QLatin1String("TfmTestGrid") && m_stage == Stage::Done) {
            QTimer::singleShot(0, modal, [modal] { static_cast<QDialog*>(modal)->reject(); });
            return;
        }
        // A window whose closing click is still on its way is left alone until it has gone.
        static const QStringList known{u"TfmValuesCompare"_qs, u"TfmResults"_qs, u"TfmTestGrid"_qs,
                                       u"TfmDetailedResult"_qs};
        if (!known.contains(name))
            Fail(QStringLiteral("unexpected window %1 at stage %2").arg(name).arg(int(m_stage)));
    }

    bool m_expectError;
    Stage m_stage = Stage::Choose;
    QElapsedTimer m_clock;
    QTimer m_timer;
};

void StartDriver()
{
    const QByteArray mode = qgetenv("KVENDAR_DRIVE");
    if (!mode.isEmpty() && mode != "save" && mode != "error")
        Fail(QStringLiteral("KVENDAR_DRIVE must be save or error"));
    // The program's own objects are made after QApplication; the driver waits for them.
    QTimer::singleShot(0, qApp, [expectError = mode == "error"] { new Driver(expectError); });
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(StartDriver)
