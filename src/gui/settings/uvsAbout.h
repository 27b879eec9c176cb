#pragma once

#include "gui/platform/Dialogs.h"

#include <QDialog>
#include <QImage>

#include <memory>

namespace Ui {
class TfmAbout;
}

namespace kv {

// The program's logo, decoded from the program's resources.
QImage AboutLogo();

// The About box: logo, title, maker and the maker's web address as a link.
class TfmAbout final : public QDialog
{
    Q_OBJECT

public:
    explicit TfmAbout(Dialogs& dialogs, QWidget* parent = nullptr);
    ~TfmAbout() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void laRefClick();

    std::unique_ptr<Ui::TfmAbout> ui;
    Dialogs& m_dialogs;
};

} // namespace kv
