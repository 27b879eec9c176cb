#pragma once

#include <QMainWindow>
#include <QString>
#include <QStringList>

class QTextBrowser;

namespace kv {

// Where the help file is looked for, in this order: beside the executable, then "kvendar/" in the
// user's and the system's data folders (XDG_DATA_HOME, then XDG_DATA_DIRS: ~/.local/share,
// /usr/local/share, /usr/share), then an installed program's own data folder (installedDir, ending
// in "/") when it is not among those. baseName is the application's help file without its extension.
QStringList HelpFileCandidates(const QString& exeDir, const QString& baseName, const QString& installedDir = QString());

// The first candidate that exists, or an empty string.
QString FindHelpFile(const QString& exeDir, const QString& baseName, const QString& installedDir = QString());

// The help file's name as the start-up set it on the application ("kvendar" when unset).
QString ApplicationHelpFile();

// The program's help viewer: one window that shows the HTML help file, reused by every help command.
// A main window of its own, so that screen readers meet it as a window with its caption; Escape
// closes it.
class TfmHelp final : public QMainWindow
{
    Q_OBJECT

public:
    explicit TfmHelp(QString exeDir, QWidget* parent = nullptr, QString installedDir = QString());

    // Loads the help file afresh and shows its contents; a missing file is explained in the window.
    void ShowContents();

    QTextBrowser* Browser() const { return m_browser; }

private:
    QString m_exeDir;
    QString m_installedDir;
    QTextBrowser* m_browser;
};

} // namespace kv
