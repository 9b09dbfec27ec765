// The main window on a temporary workspace for the GUI tests: fake fetchers,
// timers that only tick when a test calls the handlers, and a shell that
// records every message and opened address instead of showing them.
#pragma once

#include "fakefetcher.h"
#include "gui/mainwindow.h"
#include "gui/shell.h"
#include "tempworkspace.h"

#include <QList>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>
#include <memory>

class QAbstractItemView;
class QAction;
class QListView;
class QListWidget;

namespace caiji {
class RecordDisplay;
}

namespace caiji::test {

class RecordingShell : public Shell
{
public:
    void inform(QWidget *parent, const QString &text) override;
    // Records the address and the message shown were no program to take it.
    void open(QWidget *parent, const QUrl &url, const QString &noProgramMessage) override;
    // Answers with the next of `fileNames` (empty, a cancel, when none is left).
    QString saveFileName(QWidget *parent, const QString &caption, const QString &suggested,
                         const QString &filter) override;
    // Answers from `fileNames` as saveFileName() does.
    QString openFileName(QWidget *parent, const QString &caption, const QString &dir,
                         const QString &filter) override;
    void about(QWidget *parent, const QString &text) override;
    // Answers with the next of `choices` (-1, a cancel, when none is left).
    int choose(QWidget *parent, const QString &label, const QStringList &items) override;
    void showText(QWidget *parent, const QString &heading, const QString &text) override;
    // Answers with the next of `answers` (yes when none is left).
    bool confirm(QWidget *parent, const QString &question) override;
    // Answers with the next of `saveAnswers` (取消 when none is left).
    SaveAnswer askToSave(QWidget *parent, const QString &question) override;
    // Records the text; `noticeClick` clicks the newest.
    void notify(QSystemTrayIcon *tray, const QString &text, std::function<void()> onClick) override;

    // The messages so far, forgotten once taken.
    QStringList takeMessages();

    QStringList messages;
    QList<QUrl> opened;
    QStringList noProgramMessages;
    QList<int> choices;
    QList<QStringList> offered; // the items of every choice asked for
    QStringList shownTexts;     // heading, then text, of every text shown
    QList<bool> answers;
    QStringList questions; // every confirmation asked for, and every 保存/放弃/取消
    QList<SaveAnswer> saveAnswers;
    QStringList fileNames;
    QStringList abouts;
    QStringList notices;
    std::function<void()> noticeClick;
};

class WindowRig
{
public:
    // Fill `workspace` first: the window lists the tasks it finds when made.
    // Returns false when the window could not be shown.
    bool start();

    QListWidget *list(const QString &name) const;
    // The record lists (List7, List10) are views over models.
    QListView *view(const QString &name) const;
    QAction *action(const QString &name) const;
    RecordDisplay *display() const;
    static QStringList texts(const QAbstractItemView *list);
    static int count(const QAbstractItemView *list);
    static int currentRow(const QAbstractItemView *list);
    static int selectedCount(const QAbstractItemView *list);

    // Selects the row with a click, or double-clicks it, on the list's viewport.
    static void click(QAbstractItemView *list, int row);
    static void doubleClick(QAbstractItemView *list, int row);

    // The window's size before it is first shown; invalid: its own choice.
    QSize initialSize;
    TempWorkspace workspace;
    // The window's settings live here, not in the user's.
    QTemporaryDir settings;
    RecordingShell shell;
    FakeFetcher *listFetcher = nullptr;    // owned by the window
    FakeFetcher *contentFetcher = nullptr; // owned by the window
    std::unique_ptr<MainWindow> window;
};

} // namespace caiji::test
