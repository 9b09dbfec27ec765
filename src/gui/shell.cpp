#include "gui/shell.h"

#include "gui/desktopnotifier.h"
#include "gui/filetypenames.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QFileDialog>
#include <QGridLayout>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QThread>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace caiji {

namespace {

// A dialog's width that leaves room for its title, the title bar's icon and
// buttons, in a title font somewhat larger than the dialog's.
int titleWidth(const QWidget &dialog)
{
    const QFontMetrics metrics(dialog.font());
    return metrics.horizontalAdvance(dialog.windowTitle()) * 3 / 2 + 14 * metrics.height();
}

// A message box is as wide as its text, and a short text would cut the title.
void fitTitle(QMessageBox &box)
{
    // Its size is worked out from its layout each time it is shown.
    if (auto *grid = qobject_cast<QGridLayout *>(box.layout()))
        grid->addItem(
            new QSpacerItem(titleWidth(box), 0, QSizePolicy::Minimum, QSizePolicy::Expanding),
            grid->rowCount(), 0, 1, grid->columnCount());
}

// A file to save or open, chosen in Qt's file dialog when the desktop's would
// speak another language than the window, with the type column and the
// labels in the window's language. Empty when the user cancels.
QString askFileName(QWidget *parent, const QString &caption, const QString &dir,
                    const QString &filter, bool native, QFileDialog::AcceptMode mode)
{
    FileTypeNames typeNames; // outlives the dialog
    QFileDialog dialog(parent, caption, dir, filter);
    dialog.setFileMode(mode == QFileDialog::AcceptSave ? QFileDialog::AnyFile
                                                       : QFileDialog::ExistingFile);
    if (!native)
        dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setIconProvider(&typeNames);
    dialog.setAcceptMode(mode);
    dialog.setLabelText(QFileDialog::LookIn, Shell::tr("位置："));
    dialog.setLabelText(QFileDialog::FileName, Shell::tr("文件名："));
    dialog.setLabelText(QFileDialog::FileType, Shell::tr("文件类型："));
    dialog.setLabelText(QFileDialog::Accept,
                        mode == QFileDialog::AcceptSave ? Shell::tr("保存") : Shell::tr("打开"));
    dialog.setLabelText(QFileDialog::Reject, Shell::tr("取消"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

} // namespace

Shell::Shell() = default;

Shell::~Shell() = default;

QString Shell::title()
{
    return tr("信息采集");
}

void Shell::inform(QWidget *parent, const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, title(), text, QMessageBox::NoButton, parent);
    box.setDefaultButton(box.addButton(tr("确定"), QMessageBox::AcceptRole));
    fitTitle(box);
    box.exec();
}

bool Shell::confirm(QWidget *parent, const QString &question)
{
    QMessageBox box(QMessageBox::Question, title(), question, QMessageBox::NoButton, parent);
    QPushButton *yes = box.addButton(tr("确定"), QMessageBox::AcceptRole);
    box.setDefaultButton(box.addButton(tr("取消"), QMessageBox::RejectRole));
    fitTitle(box);
    box.exec();
    return box.clickedButton() == yes;
}

Shell::SaveAnswer Shell::askToSave(QWidget *parent, const QString &question)
{
    QMessageBox box(QMessageBox::Question, title(), question, QMessageBox::NoButton, parent);
    QPushButton *save = box.addButton(tr("保存"), QMessageBox::AcceptRole);
    QPushButton *discard = box.addButton(tr("放弃"), QMessageBox::DestructiveRole);
    QPushButton *cancel = box.addButton(tr("取消"), QMessageBox::RejectRole);
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    fitTitle(box);
    box.exec();
    return box.clickedButton() == save      ? SaveAnswer::Save
           : box.clickedButton() == discard ? SaveAnswer::Discard
                                            : SaveAnswer::Cancel;
}

int Shell::choose(QWidget *parent, const QString &label, const QStringList &items)
{
    QInputDialog dialog(parent);
    dialog.setWindowTitle(title());
    dialog.setLabelText(label);
    dialog.setComboBoxItems(items);
    dialog.setComboBoxEditable(false);
    dialog.setOkButtonText(tr("确定"));
    dialog.setCancelButtonText(tr("取消"));
    dialog.setMinimumWidth(titleWidth(dialog));
    if (dialog.exec() != QDialog::Accepted)
        return -1;
    return int(items.indexOf(dialog.textValue()));
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
    auto *buttons = new QDialogButtonBox(&dialog);
    buttons->addButton(tr("确定"), QDialogButtonBox::AcceptRole);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    layout->addWidget(buttons);
    dialog.resize(820, 480);
    dialog.exec();
}

void Shell::open(QWidget *parent, const QUrl &url, const QString &noProgramMessage)
{
    // xdg-open returns at once with a failure when no program takes the file;
    // QDesktopServices only says whether a launcher started.
    const QString launcher = QStandardPaths::findExecutable(u"xdg-open"_s);
    if (launcher.isEmpty()) {
        if (!QDesktopServices::openUrl(url))
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
    process->start(launcher, {url.isLocalFile() ? url.toLocalFile() : url.toString()});
}

QString Shell::saveFileName(QWidget *parent, const QString &caption, const QString &suggested,
                            const QString &filter)
{
    return askFileName(parent, caption, suggested, filter, m_nativeFileDialogs,
                       QFileDialog::AcceptSave);
}

QString Shell::openFileName(QWidget *parent, const QString &caption, const QString &dir,
                            const QString &filter)
{
    return askFileName(parent, caption, dir, filter, m_nativeFileDialogs, QFileDialog::AcceptOpen);
}

void Shell::notify(QSystemTrayIcon *tray, const QString &text, std::function<void()> onClick)
{
    if (tray && QSystemTrayIcon::supportsMessages()) {
        // The tray shows one message at a time: a click is on the newest.
        m_trayClick = std::move(onClick);
        if (m_clickTray != tray) {
            m_clickTray = tray;
            QObject::connect(tray, &QSystemTrayIcon::messageClicked, tray, [this] {
                if (m_trayClick)
                    m_trayClick();
            });
        }
        tray->show(); // a hidden icon shows no message
        tray->showMessage(title(), text, QSystemTrayIcon::Information);
        return;
    }
    if (!m_notifier)
        m_notifier = std::make_unique<DesktopNotifier>(QDBusConnection::sessionBus());
    m_notifier->notify(title(), text, std::move(onClick));
}

void Shell::runBusy(QWidget *parent, const QString &label, const std::function<void()> &work)
{
    // No cancel button: the work cannot be cut short, and closing the
    // indicator does not end it.
    QProgressDialog busy(label, QString(), 0, 0, parent);
    busy.setWindowTitle(title());
    busy.setWindowModality(Qt::WindowModal);
    busy.setMinimumWidth(titleWidth(busy));
    std::unique_ptr<QThread> thread(QThread::create(work));
    QEventLoop loop;
    QObject::connect(thread.get(), &QThread::finished, &loop, &QEventLoop::quit);
    thread->start();
    busy.show();
    loop.exec();
    thread->wait();
}

void Shell::about(QWidget *parent, const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, title(), text, QMessageBox::NoButton, parent);
    const QIcon icon = parent ? parent->windowIcon() : QApplication::windowIcon();
    if (!icon.isNull())
        box.setIconPixmap(icon.pixmap(64, 64));
    box.setDefaultButton(box.addButton(tr("确定"), QMessageBox::AcceptRole));
    fitTitle(box);
    box.exec();
}

} // namespace caiji
