#include "windowrig.h"

#include "gui/recorddisplay.h"

#include <QAction>
#include <QListView>
#include <QListWidget>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>

using namespace Qt::StringLiterals;

namespace caiji::test {

void RecordingShell::inform(QWidget *, const QString &text)
{
    messages << text;
}

void RecordingShell::open(QWidget *, const QUrl &url, const QString &noProgramMessage)
{
    opened << url;
    noProgramMessages << noProgramMessage;
}

QString RecordingShell::saveFileName(QWidget *, const QString &, const QString &, const QString &)
{
    return fileNames.isEmpty() ? QString() : fileNames.takeFirst();
}

QString RecordingShell::openFileName(QWidget *, const QString &, const QString &, const QString &)
{
    return fileNames.isEmpty() ? QString() : fileNames.takeFirst();
}

void RecordingShell::about(QWidget *, const QString &text)
{
    abouts << text;
}

int RecordingShell::choose(QWidget *, const QString &, const QStringList &items)
{
    offered << items;
    return choices.isEmpty() ? -1 : choices.takeFirst();
}

void RecordingShell::showText(QWidget *, const QString &heading, const QString &text)
{
    shownTexts << heading << text;
}

bool RecordingShell::confirm(QWidget *, const QString &question)
{
    questions << question;
    return answers.isEmpty() || answers.takeFirst();
}

Shell::SaveAnswer RecordingShell::askToSave(QWidget *, const QString &question)
{
    questions << question;
    return saveAnswers.isEmpty() ? SaveAnswer::Cancel : saveAnswers.takeFirst();
}

void RecordingShell::notify(QSystemTrayIcon *, const QString &text, std::function<void()> onClick)
{
    notices << text;
    noticeClick = std::move(onClick);
}

QStringList RecordingShell::takeMessages()
{
    return std::exchange(messages, {});
}

bool WindowRig::start()
{
    QStandardPaths::setTestModeEnabled(true);
    for (const QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat})
        QSettings::setPath(format, QSettings::UserScope, settings.path());
    auto list = std::make_unique<FakeFetcher>();
    auto content = std::make_unique<FakeFetcher>();
    listFetcher = list.get();
    contentFetcher = content.get();
    window =
        std::make_unique<MainWindow>(workspace.workspace(), std::move(list), std::move(content),
                                     CollectionEngine::Options{1000, false}, shell);
    if (initialSize.isValid())
        window->resize(initialSize);
    window->show();
    return QTest::qWaitForWindowExposed(window.get());
}

QListWidget *WindowRig::list(const QString &name) const
{
    return window->findChild<QListWidget *>(name);
}

QAction *WindowRig::action(const QString &name) const
{
    return window->findChild<QAction *>(name);
}

RecordDisplay *WindowRig::display() const
{
    return window->findChild<RecordDisplay *>(u"Picture3"_s);
}

QListView *WindowRig::view(const QString &name) const
{
    return window->findChild<QListView *>(name);
}

QStringList WindowRig::texts(const QAbstractItemView *list)
{
    QStringList result;
    for (int i = 0; i < count(list); ++i)
        result << list->model()->index(i, 0).data().toString();
    return result;
}

int WindowRig::count(const QAbstractItemView *list)
{
    return list->model()->rowCount();
}

int WindowRig::currentRow(const QAbstractItemView *list)
{
    return list->currentIndex().row();
}

int WindowRig::selectedCount(const QAbstractItemView *list)
{
    return int(list->selectionModel()->selectedIndexes().size());
}

namespace {

QPoint rowCenter(QAbstractItemView *list, int row)
{
    const QModelIndex index = list->model()->index(row, 0);
    list->scrollTo(index);
    return list->visualRect(index).center();
}

} // namespace

void WindowRig::click(QAbstractItemView *list, int row)
{
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rowCenter(list, row));
}

void WindowRig::doubleClick(QAbstractItemView *list, int row)
{
    // The sequence a real double-click delivers; QTest::mouseDClick alone sends
    // only the double-click event, which a view takes as a press when no press
    // came before it.
    const QPoint at = rowCenter(list, row);
    QTest::mousePress(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, at);
}

} // namespace caiji::test
