#include "gui/settings/HelpWindow.h"

#include <QAction>
#include <QCoreApplication>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTextBrowser>
#include <QUrl>

namespace kv {

namespace {

// The anchor of the manual's table of contents.
const QString kContentsAnchor = QStringLiteral("contents");

} // namespace

QStringList HelpFileCandidates(const QString& exeDir, const QString& baseName, const QString& installedDir)
{
    const QString fileName = baseName + QStringLiteral(".html");
    QStringList candidates{exeDir + fileName};
    for (const QString& dir : QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation))
        candidates.append(dir + QStringLiteral("/kvendar/") + fileName);
    // A prefix outside the data folders the desktop names (/opt, say) is still found.
    if (!installedDir.isEmpty() && !candidates.contains(installedDir + fileName))
        candidates.append(installedDir + fileName);
    return candidates;
}

QString FindHelpFile(const QString& exeDir, const QString& baseName, const QString& installedDir)
{
    for (const QString& candidate : HelpFileCandidates(exeDir, baseName, installedDir))
        if (QFileInfo(candidate).isFile())
            return candidate;
    return QString();
}

QString ApplicationHelpFile()
{
    const QString name = qApp != nullptr ? qApp->property("kvHelpFile").toString() : QString();
    return name.isEmpty() ? QStringLiteral("kvendar") : name;
}

TfmHelp::TfmHelp(QString exeDir, QWidget* parent, QString installedDir)
    : QMainWindow(parent, Qt::Window), m_exeDir(std::move(exeDir)), m_installedDir(std::move(installedDir)),
      m_browser(new QTextBrowser(this))
{
    setObjectName(QStringLiteral("fmHelp"));
    setWindowTitle(QStringLiteral("Квендар — справка"));
    resize(640, 520);
    m_browser->setObjectName(QStringLiteral("reHelp"));
    // Links to the web or to mail leave the help window for the desktop's own programs.
    m_browser->setOpenExternalLinks(true);
    m_browser->setAccessibleName(QStringLiteral("Справка"));
    setCentralWidget(m_browser);

    auto* close = new QAction(this);
    close->setObjectName(QStringLiteral("acCloseHelp"));
    close->setShortcut(QKeySequence(Qt::Key_Escape));
    close->setShortcutContext(Qt::WindowShortcut);
    connect(close, &QAction::triggered, this, &QWidget::close);
    addAction(close);
}

void TfmHelp::ShowContents()
{
    const QString baseName = ApplicationHelpFile();
    const QString file = FindHelpFile(m_exeDir, baseName, m_installedDir);
    if (file.isEmpty()) {
        QString places;
        for (const QString& candidate : HelpFileCandidates(m_exeDir, baseName, m_installedDir))
            places += QStringLiteral("<li>%1</li>").arg(candidate.toHtmlEscaped());
        m_browser->setHtml(QStringLiteral("<h2>Справка недоступна</h2>"
                                          "<p>Не найден файл справки «%1.html». Он должен лежать рядом с "
                                          "программой или в одной из этих папок:</p><ul>%2</ul>"
                                          "<p>Переустановите программу или скопируйте файл справки на место.</p>")
                               .arg(baseName.toHtmlEscaped(), places));
        return;
    }
    QUrl url = QUrl::fromLocalFile(file);
    url.setFragment(kContentsAnchor);
    // The browser only scrolls when it is sent to the file it already shows; reloading it means a
    // help file replaced on disk, or one shown after the "not found" text, is read again.
    const bool sameFile = m_browser->source().adjusted(QUrl::RemoveFragment) == url.adjusted(QUrl::RemoveFragment);
    m_browser->setSource(url);
    if (sameFile) {
        m_browser->reload();
        m_browser->scrollToAnchor(kContentsAnchor);
    }
}

} // namespace kv
