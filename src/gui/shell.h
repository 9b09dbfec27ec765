// What the window asks of the desktop: plain message boxes (one 确定 button,
// no icon) as wide as their title, file dialogs, a busy indicator while slow
// work runs, and opening folders, documents and addresses. Tests replace it to
// read the texts and the opened addresses and to answer.
#pragma once

#include <QCoreApplication>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <memory>

class QSystemTrayIcon;
class QWidget;

namespace caiji {

class DesktopNotifier;

class Shell
{
    Q_DECLARE_TR_FUNCTIONS(Shell)

public:
    Shell();
    virtual ~Shell();
    virtual void inform(QWidget *parent, const QString &text);
    // Lets the user pick one of `items`; -1 when the choice was cancelled.
    virtual int choose(QWidget *parent, const QString &label, const QStringList &items);
    // A question with 确定 and 取消; true when the user chose 确定.
    virtual bool confirm(QWidget *parent, const QString &question);
    enum class SaveAnswer { Save, Discard, Cancel };
    // Unsaved work is about to be replaced or closed: 保存, 放弃 or 取消,
    // 取消 the default (and Escape).
    virtual SaveAnswer askToSave(QWidget *parent, const QString &question);
    // A long text to read (a list), in a window of its own with one 确定 button.
    virtual void showText(QWidget *parent, const QString &heading, const QString &text);
    // Opens a folder, file or address with the desktop's program for it; when
    // there is none (which may only be known later) `noProgramMessage` is shown.
    virtual void open(QWidget *parent, const QUrl &url, const QString &noProgramMessage);
    // The name of a file to write, `suggested` first; empty when cancelled.
    virtual QString saveFileName(QWidget *parent, const QString &caption, const QString &suggested,
                                 const QString &filter);
    // The name of an existing file to read, looked for in `dir` first; empty
    // when cancelled.
    virtual QString openFileName(QWidget *parent, const QString &caption, const QString &dir,
                                 const QString &filter);
    // The program's name, version and licence, with its icon.
    virtual void about(QWidget *parent, const QString &text);
    // Runs `work` on a thread of its own, so that the window keeps drawing,
    // while a busy indicator says `label`; returns when `work` is done.
    virtual void runBusy(QWidget *parent, const QString &label, const std::function<void()> &work);

    // Tells of something that happened while the user may be elsewhere: a
    // message of `tray`, or a desktop notification without one. `onClick`
    // runs when the user clicks it.
    virtual void notify(QSystemTrayIcon *tray, const QString &text, std::function<void()> onClick);

    // Whether file dialogs may be the desktop's own. Those follow the
    // desktop's language, so a window in another one uses Qt's.
    void setNativeFileDialogs(bool native) { m_nativeFileDialogs = native; }

    static QString title();

private:
    bool m_nativeFileDialogs = true;
    std::function<void()> m_trayClick; // of the tray's newest message
    QPointer<QSystemTrayIcon> m_clickTray;
    std::unique_ptr<DesktopNotifier> m_notifier; // made when first needed
};

} // namespace caiji
