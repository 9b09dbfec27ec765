#include "gui/shell.h"

#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

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

bool Shell::confirm(QWidget *parent, const QString &question)
{
    QMessageBox box(QMessageBox::Question, title(), question, QMessageBox::NoButton, parent);
    QPushButton *yes = box.addButton(u"确定"_s, QMessageBox::AcceptRole);
    box.setDefaultButton(box.addButton(u"取消"_s, QMessageBox::RejectRole));
    box.exec();
    return box.clickedButton() == yes;
}

int Shell::choose(QWidget *parent, const QString &label, const QStringList &items)
{
    bool ok = false;
    const QString choice = QInputDialog::getItem(parent, title(), label, items, 0, false, &ok);
    return ok ? int(items.indexOf(choice)) : -1;
}

void Shell::showText(QWidget *parent, const QString &heading, const QString &text)
{
    QDialog dialog(parent);
    dialog.setWindowTitle(title());
    auto *layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(heading, &dialog));
    auto *view = new QPlainTextEdit(text, &dialog);
    view->setReadOnly(true);
    view->setLineWrapMode(QPlainTextEdit::NoWrap);
    layout->addWidget(view);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    layout->addWidget(buttons);
    dialog.resize(820, 480);
    dialog.exec();
}

void Shell::open(const QUrl &url)
{
    QDesktopServices::openUrl(url);
}

} // namespace caiji
