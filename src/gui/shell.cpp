#include "gui/shell.h"

#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
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

void Shell::openDocument(QWidget *parent, const QString &path, const QString &noProgramMessage)
{
    // xdg-open returns at once with a failure when no program takes the file;
    // QDesktopServices only says whether a launcher started.
    const QString launcher = QStandardPaths::findExecutable(u"xdg-open"_s);
    if (launcher.isEmpty()) {
        if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
            inform(parent, noProgramMessage);
        return;
    }
    auto *process = new QProcess(parent);
    const QPointer<QWidget> guard(parent);
    const auto failed = [this, guard, orphan = !parent, noProgramMessage] {
        if (guard || orphan)
            inform(guard, noProgramMessage);
    };
    QObject::connect(process, &QProcess::finished, process,
                     [process, failed](int code, QProcess::ExitStatus status) {
                         if (status != QProcess::NormalExit || code != 0)
                             failed();
                         process->deleteLater();
                     });
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [process, failed](QProcess::ProcessError error) {
                         if (error == QProcess::FailedToStart) {
                             failed();
                             process->deleteLater();
                         }
                     });
    process->start(launcher, {path});
}

QString Shell::saveFileName(QWidget *parent, const QString &caption, const QString &suggested,
                            const QString &filter)
{
    return QFileDialog::getSaveFileName(parent, caption, suggested, filter);
}

void Shell::about(QWidget *parent, const QString &text)
{
    QMessageBox::about(parent, title(), text);
}

} // namespace caiji
