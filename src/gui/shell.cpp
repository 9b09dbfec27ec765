#include "gui/shell.h"

#include <QDesktopServices>
#include <QInputDialog>
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

int Shell::choose(QWidget *parent, const QString &label, const QStringList &items)
{
    bool ok = false;
    const QString choice = QInputDialog::getItem(parent, title(), label, items, 0, false, &ok);
    return ok ? int(items.indexOf(choice)) : -1;
}

void Shell::open(const QUrl &url)
{
    QDesktopServices::openUrl(url);
}

} // namespace caiji
