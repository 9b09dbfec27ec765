#include "gui/shell.h"

#include <QDesktopServices>
#include <QMessageBox>

using namespace Qt::StringLiterals;

namespace caiji {

Shell::~Shell() = default;

QString Shell::title()
{
    return u"信息采集"_s;
}

void Shell::inform(QWidget *parent, const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, title(), text, QMessageBox::Ok, parent);
    box.exec();
}

void Shell::open(const QUrl &url)
{
    QDesktopServices::openUrl(url);
}

} // namespace caiji
