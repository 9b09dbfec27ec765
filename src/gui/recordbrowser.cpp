#include "gui/recordbrowser.h"

#include "gui/listheader.h"
#include "gui/recorddisplay.h"
#include "gui/recordlistmodel.h"
#include "gui/shell.h"
#include "records/recordstore.h"
#include "text/readtext.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QListView>
#include <QListWidget>
#include <QMap>
#include <QPlainTextEdit>

using namespace Qt::StringLiterals;

namespace caiji {

RecordBrowser::RecordBrowser(const Workspace &workspace, Widgets widgets, Shell &shell,
                             QWidget *dialogParent)
    : QObject(dialogParent), m_workspace(workspace), m_w(widgets), m_shell(shell),
      m_dialogParent(dialogParent), m_records(new RecordListModel(this)),
      m_notEditable(nothingShownMessage())
{
    m_w.list10->setModel(m_records);
    m_w.listedRun->hide();
    m_w.header10->setText(QString());
    m_w.newestOnly->hide();
    connect(m_w.newestOnly, &QCheckBox::clicked, this, &RecordBrowser::showNewestOnly);
}

QStringList RecordBrowser::list11() const
{
    QStringList lines;
    for (int row = 0; row < m_records->rowCount(); ++row)
        lines << m_records->recordLine(row);
    return lines;
}

int RecordBrowser::currentRow() const
{
    return m_w.list10->currentIndex().row();
}

void RecordBrowser::selectRow(int row)
{
    if (row < 0) {
        m_w.list10->setCurrentIndex(QModelIndex());
        m_w.list10->clearSelection();
        return;
    }
    m_w.list10->setCurrentIndex(m_records->index(row));
}

QString RecordBrowser::notCollectedMessage()
{
    return tr("该任务尚未采集!");
}

QString RecordBrowser::notEditableMessage()
{
    return tr("待所有采集完成后再编辑记录");
}

QString RecordBrowser::nothingShownMessage()
{
    return tr("请先双击“相应记录”中要编辑的记录");
}

void RecordBrowser::clearEditable()
{
    m_recedit = 0;
    m_notEditable = notEditableMessage();
}

bool RecordBrowser::mayDropEdits()
{
    return m_recedit != 1 || !m_w.display->hasUnsavedEdits() ||
           m_shell.confirm(m_dialogParent, tr("显示的记录有未保存的修改，放弃这些修改吗？"));
}

QString RecordBrowser::selectedTask() const
{
    const QListWidgetItem *item = m_w.list9->currentItem();
    return item && item->isSelected() ? item->text() : QString();
}

void RecordBrowser::showFailure(const QString &what)
{
    m_shell.inform(m_dialogParent, what);
}

void RecordBrowser::loadRecords()
{
    const QString task = selectedTask();
    if (!task.isEmpty())
        loadRecordsFrom(task, m_workspace.databaseFile(task));
}

void RecordBrowser::loadRecordsFrom(const QString &task, const QString &database,
                                    const QString &runTime)
{
    if (mayDropEdits())
        list(task, database, runTime, false);
}

void RecordBrowser::showNewestRun(const QString &task)
{
    if (mayDropEdits())
        list(task, m_workspace.databaseFile(task), QString(), true);
}

void RecordBrowser::showNewestOnly(bool newestOnly)
{
    // The rows move: a record with edits is not left on display as if it
    // could still be saved.
    if (!mayDropEdits()) {
        m_w.newestOnly->setChecked(!newestOnly);
        return;
    }
    list(m_listedTask, m_listedDatabase, m_listedRunTime, newestOnly);
}

void RecordBrowser::setNewestCount()
{
    const qsizetype rows = m_rowIds ? m_rowIds->size()
                                    : RecordStore::rowsOfRun(m_listedDatabase, m_newestRun)
                                          .value_or(QList<qint64>())
                                          .size();
    m_w.newestOnly->setText(tr("只看最近一次新增（%1条）").arg(rows));
}

void RecordBrowser::list(const QString &task, const QString &database, const QString &runTime,
                         bool newestOnly)
{
    // A record of the task listed before is not left on display as if it
    // could still be saved.
    if (m_recedit == 1)
        m_w.display->reset(m_workspace.placeholderPicture());
    m_recedit = 0;
    m_notEditable = nothingShownMessage();
    m_records->clear();
    m_listedTask = task;
    m_listedDatabase = database;
    m_listedRunTime = runTime;
    m_shownPosition = -1;
    m_newestRun.clear();
    m_newestRunStarted = QDateTime();
    m_rowIds.reset();
    m_w.newestOnly->setChecked(false);
    m_w.newestOnly->hide();
    m_w.listedRun->setText(tr("（%1 的历史记录）").arg(runTime));
    m_w.listedRun->setVisible(!runTime.isEmpty());
    m_w.header10->setText(QString());
    Q_EMIT listed();
    if (!QFile::exists(database)) {
        m_shell.inform(m_dialogParent, notCollectedMessage());
        return;
    }
    const int fieldCount = getuc(m_workspace.taskFile(task));
    m_w.header10->setText(ListHeader::fieldsLine(fieldCount));
    std::optional<qint64> count = RecordStore::count(database);
    // Only a database that runs added to has a newest run of its own; an
    // earlier run's database is listed whole.
    const QList<StoredRun> runs = runTime.isEmpty()
                                      ? RecordStore::runs(database).value_or(QList<StoredRun>())
                                      : QList<StoredRun>();
    if (count && runs.size() >= 2) {
        m_newestRun = runs.last().name;
        m_newestRunStarted = runs.last().started;
        if (newestOnly) {
            m_rowIds = RecordStore::rowsOfRun(database, m_newestRun);
            count = m_rowIds ? std::optional<qint64>(m_rowIds->size()) : std::nullopt;
        }
        m_w.newestOnly->setChecked(newestOnly);
        m_w.newestOnly->show();
        setNewestCount();
    }
    if (!count) {
        showFailure(tr("无法读取记录：%1").arg(QDir::toNativeSeparators(database)));
        return;
    }
    const int rows = int(std::min<qint64>(*count, INT_MAX));
    m_records->reset(rows, [this, database, fieldCount](int first, int n) {
        if (!m_rowIds)
            return RecordStore::readRange(database, fieldCount, first, n).value_or(QStringList());
        return RecordStore::readRows(database, fieldCount, m_rowIds->mid(first, n))
            .value_or(QStringList());
    });
    if (rows > 0)
        selectRow(rows - 1);
    m_w.label8->setText(QString::number(rows));
}

void RecordBrowser::showRecord()
{
    if (!mayDropEdits())
        return;
    m_recedit = 1;
    m_w.display->reset(m_workspace.placeholderPicture());
    const QString task = m_listedTask;
    const int position = currentRow();
    if (task.isEmpty() || position < 0)
        return;
    const QString &database = m_listedDatabase;
    if (!QFile::exists(database)) {
        m_shell.inform(m_dialogParent, notCollectedMessage());
        return;
    }
    const int fieldCount = getuc(m_workspace.taskFile(task));
    std::optional<QString> line;
    if (!m_rowIds) {
        line = RecordStore::read(database, fieldCount, position);
    } else if (position < m_rowIds->size()) {
        const QStringList lines =
            RecordStore::readRows(database, fieldCount, {m_rowIds->at(position)})
                .value_or(QStringList());
        if (!lines.value(0).isEmpty()) // a row that is gone reads as empty
            line = lines.first();
    }
    if (!line)
        return;
    m_shownPosition = position;
    m_w.display->layOut(m_workspace.taskDir(task), RecordStore::valuesOf(*line), true);
}

void RecordBrowser::updateRecord()
{
    if (m_recedit < 1 || m_shownPosition < 0) {
        m_shell.inform(m_dialogParent, m_notEditable);
        return;
    }
    const QString &database = m_listedDatabase;
    if (!QFileInfo::exists(m_workspace.taskDir(m_listedTask)) || !QFile::exists(database)) {
        showFailure(tr("任务已不存在，记录未保存：%1").arg(m_listedTask));
        return;
    }
    const int fieldCount = getuc(m_workspace.taskFile(m_listedTask));
    QMap<int, QString> edits;
    for (int i = 0; i < fieldCount && i < RecordDisplay::BoxCount; ++i) {
        // "^" separates values in a record line, so a typed one is kept as "*".
        if (m_w.display->isBoxShown(i))
            edits[i] = m_w.display->pt(i)->toPlainText().replace(u'^', u'*');
    }
    const bool updated =
        m_rowIds ? RecordStore::updateRow(database, m_rowIds->value(m_shownPosition, -1), edits)
                 : RecordStore::update(database, m_shownPosition, edits);
    if (!updated) {
        showFailure(tr("更新失败：%1").arg(QDir::toNativeSeparators(database)));
        return;
    }
    m_records->refreshRow(m_shownPosition);
    m_w.display->markSaved();
    m_shell.inform(m_dialogParent, tr("更新完成"));
}

void RecordBrowser::deleteRecord()
{
    const int d = currentRow();
    if (d < 0 || !m_w.list10->selectionModel()->hasSelection() || m_listedTask.isEmpty())
        return;
    if (!m_shell.confirm(m_dialogParent,
                         tr("删除第%1条记录？\n%2")
                             .arg(QString::number(d + 1),
                                  m_records->data(m_records->index(d)).toString().trimmed())))
        return;
    const QString &database = m_listedDatabase;
    if (!QFileInfo::exists(m_workspace.taskDir(m_listedTask)) || !QFile::exists(database) ||
        !(m_rowIds ? RecordStore::removeRow(database, m_rowIds->value(d, -1))
                   : RecordStore::remove(database, d))) {
        showFailure(tr("删除失败：%1").arg(m_listedTask));
        return;
    }
    if (m_rowIds)
        m_rowIds->removeAt(d);
    if (!m_newestRun.isEmpty())
        setNewestCount();
    // The record shown moves up with the rows below the deleted one.
    if (d == m_shownPosition) {
        m_recedit = 0;
        m_shownPosition = -1;
        m_notEditable = tr("显示的记录已被删除");
    } else if (d < m_shownPosition) {
        --m_shownPosition;
    }
    m_shell.inform(m_dialogParent, tr("删除成功"));
    m_records->removeRecord(d);
    // Nothing stays selected, so a second click deletes nothing by itself.
    selectRow(-1);
}

} // namespace caiji
