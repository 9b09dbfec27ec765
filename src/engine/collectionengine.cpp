#include "engine/collectionengine.h"

#include "engine/fetcher.h"
#include "engine/networkfetcher.h"
#include "records/runhistory.h"
#include "tasks/publishsettings.h"
#include "text/numbers.h"
#include "text/readtext.h"

#include <QDir>
#include <QFile>
#include <QProcessEnvironment>

using namespace Qt::StringLiterals;

namespace caiji {

CollectionEngine::CollectionEngine(const Workspace &workspace, Fetcher *listFetcher,
                                   Fetcher *contentFetcher, Options options, QObject *parent)
    : QObject(parent), m_workspace(workspace), m_listFetcher(listFetcher),
      m_contentFetcher(contentFetcher), m_options(options), m_crawler(m_state, *listFetcher),
      m_collector(m_state, *contentFetcher, [this](const QString &recordLine, const QString &page) {
          storeRecord({recordLine, page});
      })
{
    m_options.tickMs = std::max(1, m_options.tickMs);
    for (EngineTimer *timer : {&m_timer1, &m_timer2, &m_timer3})
        timer->setDriven(m_options.driveTimers);
    connect(&m_timer1, &EngineTimer::tick, this, &CollectionEngine::collectorTick);
    connect(&m_timer2, &EngineTimer::tick, this, &CollectionEngine::crawlerTick);
    connect(&m_timer3, &EngineTimer::tick, this, &CollectionEngine::schedulerTick);
    // Pages go from the fetcher to their reader without a file.
    for (Fetcher *fetcher : {m_listFetcher, m_contentFetcher})
        fetcher->setPagesInMemory(true);
    connect(m_listFetcher, &Fetcher::fetchDone, this, &CollectionEngine::listFetchDone);
    connect(m_contentFetcher, &Fetcher::fetchDone, this, &CollectionEngine::contentFetchDone);
    m_state.failureListener = [this](const FailedFetch &failure) { listFailure(failure); };
    // A fetch that waited (its host's turn, or a retry) is a fetch of the same
    // slot: its age starts again when it is sent.
    const auto followSends = [this](Fetcher *fetcher, auto pending, auto age) {
        const auto ours = [this, pending](int index) {
            return index >= 1 && index <= SlotCount &&
                   (m_state.*pending)[index].run == m_state.runId;
        };
        connect(fetcher, &Fetcher::retryScheduled, this, [this, ours](int index) {
            if (ours(index))
                ++m_state.tally.retries;
        });
        connect(fetcher, &Fetcher::sent, this, [this, ours, age](int index) {
            // Sent in the tick it was handed out: nothing waited.
            if (!ours(index) || (m_state.*age)[index] <= 1)
                return;
            (m_state.*age)[index] = 1;
            ++m_state.requestsSent;
        });
    };
    followSends(m_listFetcher, &EngineState::listPending, &EngineState::waAge);
    followSends(m_contentFetcher, &EngineState::contentPending, &EngineState::wbAge);
}

CollectionEngine::~CollectionEngine()
{
    abandonFetches();
}

QString CollectionEngine::paddedName(const QString &name)
{
    return QString(name + QString(20, u' ')).left(20);
}

QString CollectionEngine::completeMarker()
{
    return u"[采集完成]"_s;
}

QString CollectionEngine::notStartedMarker()
{
    return u"[未启动]"_s;
}

QString CollectionEngine::describe(const RunSummary &summary)
{
    if (!summary.started)
        return u"未启动："_s + summary.notStartedReason;
    const RunTally &t = summary.tally;
    QString text =
        u"页面请求%1,失败%2,记录存储%3,被拒%4,下载存储%5,下载失败%6"_s.arg(t.pagesRequested)
            .arg(t.pagesFailed)
            .arg(t.recordsStored)
            .arg(t.recordsRefused)
            .arg(t.downloadsStored)
            .arg(t.downloadsFailed);
    // Counts that make no failure follow only when there are any.
    if (t.retries > 0)
        text += u",重试"_s + QString::number(t.retries);
    if (t.pagesGarbled > 0)
        text += u",乱码"_s + QString::number(t.pagesGarbled);
    if (t.pagesKnown > 0)
        text += u",已采页面"_s + QString::number(t.pagesKnown);
    if (t.recordsKnown > 0)
        text += u",已有记录"_s + QString::number(t.recordsKnown);
    if (summary.published > 0)
        text += u",已发布"_s + QString::number(summary.published);
    if (summary.publishFailed > 0)
        text += u",发布失败"_s + QString::number(summary.publishFailed);
    if (!summary.reasons.isEmpty())
        text += u"；失败原因："_s + summary.reasons;
    for (const QString &note : summary.notes)
        text += u'；' + note;
    return text;
}

QString CollectionEngine::failureSuffix() const
{
    const qint64 failures = m_state.tally.failures();
    return failures > 0 ? u",失败"_s + QString::number(failures) : QString();
}

QStringList CollectionEngine::startUp()
{
    const QStringList names = m_workspace.taskNames();
    for (const QString &name : names)
        queueTask(name);
    m_timer3.setInterval(m_options.tickMs);
    return names;
}

void CollectionEngine::queueTask(const QString &name)
{
    if (m_state.taskQueue.size() >= MaxListEntries)
        return;
    m_state.taskQueue.append(name);
    m_state.runList.append(name);
    Q_EMIT runListLineChanged(int(m_state.runList.size() - 1), name);
    m_timer3.setInterval(m_options.tickMs);
}

void CollectionEngine::pause()
{
    for (EngineTimer *timer : {&m_timer1, &m_timer2, &m_timer3})
        timer->setEnabled(false);
}

void CollectionEngine::resume()
{
    for (EngineTimer *timer : {&m_timer1, &m_timer2, &m_timer3})
        timer->setEnabled(true);
}

bool CollectionEngine::isPaused() const
{
    return !m_timer3.isEnabled();
}

bool CollectionEngine::allQueuedComplete() const
{
    return !m_state.running && m_state.taskIndex >= int(m_state.taskQueue.size()) - 1;
}

CollectionEngine::RunSummary CollectionEngine::summary(int index) const
{
    RunSummary result = m_summaries.value(index);
    if (index == m_state.taskIndex && m_state.running)
        fillSummary(result);
    if (result.name.isEmpty())
        result.name = m_state.taskQueue.value(index);
    return result;
}

void CollectionEngine::setRunLine(int index, const QString &line)
{
    if (index < 0 || index >= m_state.runList.size() || m_state.runList[index] == line)
        return;
    m_state.runList[index] = line;
    Q_EMIT runListLineChanged(index, line);
}

void CollectionEngine::fillSummary(RunSummary &summary) const
{
    summary.tally = m_state.tally;
    summary.reasons = commonReasons();
    summary.notes = m_state.notes;
    if (m_state.tally.failuresUnlisted > 0)
        summary.notes << u"失败清单少记%1条（%2）"_s.arg(m_state.tally.failuresUnlisted)
                             .arg(m_failureLogError);
}

void CollectionEngine::schedulerTick()
{
    if (m_state.running) {
        retryWaitingRecords();
        if (!m_state.store.isFileIntact())
            loseDeletedDatabase();
    }
    const QString signature = m_state.progressSignature();
    if (signature == m_state.lastProgress) {
        increment(m_state.stallCount);
    } else {
        m_state.stallCount = 0;
        m_state.lastProgress = signature;
    }

    const int index = m_state.taskIndex;
    if (m_state.running && index >= 0 && index < m_state.runList.size() &&
        !m_state.runList[index].contains(completeMarker()))
        writeStatus();

    // Records still waiting for a busy database, and fetches waiting to be
    // tried again, are work in flight.
    if (index >= 0 && index <= m_state.taskQueue.size() - 1 && m_state.stallCount > 20 &&
        m_state.running && m_state.waitingRecords.isEmpty() && !m_listFetcher->hasWaiting() &&
        !m_contentFetcher->hasWaiting())
        completeTask();

    if (!m_state.running && m_state.taskIndex < m_state.taskQueue.size() - 1 &&
        m_state.stallCount > 20)
        startNextTask();
}

void CollectionEngine::writeStatus()
{
    const EngineState &s = m_state;
    const QString name = paddedName(s.taskQueue.value(s.taskIndex));
    const QString counts = u"请求"_s + QString::number(s.contentCursor + 1) + u"完成"_s +
                           QString::number(s.pagesDone) + u",文件"_s +
                           QString::number(s.downloads.size()) + u",记录"_s +
                           QString::number(s.tally.recordsStored) + failureSuffix();
    if (s.schemeIs(1) || s.schemeIs(2))
        Q_EMIT recordCountChanged(int(std::min<qint64>(s.tally.recordsStored, INT_MAX)));
    if (s.schemeIs(1)) {
        setRunLine(s.taskIndex, name + u"[正在采集][方案一]目标"_s +
                                    QString::number(s.contentQueue.size()) + counts);
    }
    if (s.schemeIs(2)) {
        setRunLine(s.taskIndex, name + u"[正在采集][方案二]站内"_s +
                                    QString::number(s.listQueue.size()) + u"请求"_s +
                                    QString::number(s.listCursor + 1) + u",目标"_s +
                                    QString::number(s.contentQueue.size()) + counts);
    }
}

void CollectionEngine::abandonFetches()
{
    m_listFetcher->abandonAll();
    m_contentFetcher->abandonAll();
}

void CollectionEngine::stop(const QString &reason)
{
    if (m_state.running) {
        m_state.notes << reason;
        completeTask(reason);
    }
    // The tasks still queued never start.
    EngineState &s = m_state;
    while (s.taskIndex < s.taskQueue.size() - 1) {
        ++s.taskIndex;
        m_summaries.resize(s.taskIndex + 1);
        m_summaries[s.taskIndex] = {s.taskQueue[s.taskIndex], false, reason, {}, {}, {}};
        setRunLine(s.taskIndex, paddedName(s.taskQueue[s.taskIndex]) + notStartedMarker() + reason);
    }
    pause();
}

void CollectionEngine::completeTask(const QString &reason)
{
    const int index = m_state.taskIndex;
    // Fetches still out are abandoned below and will never complete.
    const QString inFlight = reason.isEmpty() ? u"任务结束时仍未完成"_s : reason;
    for (int slot = 1; slot <= SlotCount; ++slot) {
        m_state.abandonListSlot(slot, inFlight);
        m_state.abandonContentSlot(slot, inFlight);
    }
    // Every record the task produced is stored or counted as refused.
    m_collector.settleQueue(reason.isEmpty() ? u"任务结束时尚未请求"_s : reason);
    retryWaitingRecords(true);
    // The complete line stays as it always reads; the counts live on in the
    // run's summary.
    setRunLine(index, paddedName(m_state.taskQueue.value(index)) + completeMarker());
    if (index < m_summaries.size())
        fillSummary(m_summaries[index]);
    m_failureLog.close();
    m_state.running = false;
    m_state.store.finishRun(m_state.tally.failures());
    m_state.store.close();
    // A complete task stops: nothing more is fetched, cut or stored for it.
    m_timer1.setInterval(0);
    m_timer2.setInterval(0);
    abandonFetches();
    m_state.listingStash.clear(); // its pages would never be read
    ++m_state.runId;
    Q_EMIT taskCompleted(index, m_state.taskQueue.value(index));
}

void CollectionEngine::startNextTask()
{
    EngineState &s = m_state;
    s.running = true;
    ++s.taskIndex;
    ++s.runId;
    abandonFetches();
    s.taskName = s.taskQueue[s.taskIndex];
    s.taskDir = m_workspace.taskDir(s.taskName);

    s.contentQueue.clear();
    s.contentOrigins.clear();
    s.storedPages.clear();
    s.storedRecords.clear();
    s.storedLinksInARow = 0;
    s.listPagesClosed = false;
    s.listQueue.clear();
    s.downloads.clear();
    s.runRowIds.clear();
    Q_EMIT runRecordsCleared();
    m_timer2.setInterval(0);
    m_timer1.setInterval(0);
    s.contentCursor = -1;
    s.listCursor = -1;
    s.pagesDone = 0;
    s.listPagesDone = 0;
    s.fetchesFinished = 0;
    s.requestsSent = 0;
    s.tally = RunTally();
    s.failures.clear();
    s.notes.clear();
    s.waitingRecords.clear();
    m_failureLogError.clear();
    s.seenListPages.clear();
    s.seenTargets.clear();
    s.listingStash.clear();
    s.waAge.fill(100);
    s.wbAge.fill(100);

    // Settings never leak from the task before: an unreadable file reads as
    // empty text, and such a task does not start.
    s.definition = TaskDefinition();
    s.w = WValues();
    s.fieldCount = 0;
    const QString text = readTaskText(m_workspace.taskFile(s.taskName));
    m_summaries.resize(s.taskIndex + 1);
    m_summaries[s.taskIndex] = {s.taskName, true, QString(), RunTally(), QString(), {}};
    if (const std::optional<QString> refusal = prepareDatabase(text)) {
        refuseTask(*refusal);
        return;
    }

    // A task folder made by hand may lack them.
    QDir().mkpath(s.webDir());
    QDir().mkpath(s.wekDir());
    const QDir web(s.webDir());
    for (const QString &file : web.entryList(QDir::Files | QDir::Hidden))
        QFile::remove(web.filePath(file));
    // Temporary files of transfers cut short by a crash.
    const QDir wek(s.wekDir());
    for (const QString &file : wek.entryList(
             {NetworkFetcher::temporaryPrefix() + u'*' + NetworkFetcher::temporarySuffix()},
             QDir::Files | QDir::Hidden))
        QFile::remove(wek.filePath(file));

    readTaskDefinition(text, s.definition);
    s.waAge.fill(99);
    s.wbAge.fill(99);
    for (Fetcher *fetcher : {m_listFetcher, m_contentFetcher}) {
        fetcher->startRun(s.network);
        fetcher->setAllowedDirectories({s.webDir(), s.wekDir()});
    }

    m_timer1.setInterval(m_options.tickMs);
    if (s.schemeIs(1))
        seedSchemeOne();
    if (s.schemeIs(2)) {
        s.appendList(s.schemeField(1));
        m_timer2.setInterval(m_options.tickMs);
    }
    // A task with work gets a stall window of its own, as if its seeding
    // changed the counters: the count the task before it ended with would
    // end it at the next tick whenever its counters happen to read as that
    // task's did (the same number of pages, none requested yet). A task with
    // nothing to do still ends at once.
    if (!s.contentQueue.isEmpty() || !s.listQueue.isEmpty()) {
        s.stallCount = 0;
        s.lastProgress.clear();
    }
    Q_EMIT taskStarted(s.taskIndex, s.taskName);
}

std::optional<QString> CollectionEngine::prepareDatabase(const QString &taskText)
{
    EngineState &s = m_state;
    const QString taskFile = m_workspace.taskFile(s.taskName);
    if (taskText.isEmpty())
        return u"无法读取任务文件 "_s + QDir::toNativeSeparators(taskFile);
    s.fieldCount = fieldCountOf(taskText);
    if (s.fieldCount < 1) {
        const std::optional<QString> uc = presentEntryValue(taskText, u"uc"_s);
        return uc ? u"uc=[["_s + *uc + u"]]不是1到32767之间的字段数"_s
                  : u"任务文件中没有uc=[[字段数]]"_s;
    }
    QString error;
    const std::optional<NetworkSettings> network =
        NetworkSettings::read(s.taskDir + u"/data"_s, &error);
    if (!network)
        return u"settings.ini 的 [network] 中 "_s + error;
    s.network = *network;
    if (!s.network.taskProxy) {
        if (const auto wrong =
                NetworkSettings::environmentProxyError(QProcessEnvironment::systemEnvironment()))
            return *wrong;
    }
    const std::optional<CollectSettings> collect =
        CollectSettings::read(s.taskDir + u"/data"_s, &error);
    if (!collect)
        return u"settings.ini 的 [collect] 中 "_s + error;
    // Records that would be published nowhere must not look published.
    if (!PublishSettings::read(s.taskDir + u"/data"_s, &error))
        return u"settings.ini 的 [publish] 中 "_s + error;
    s.collect = *collect;
    s.collect.onlyNew = s.collect.onlyNew || m_options.onlyNew;
    const QString database = m_workspace.databaseFile(s.taskName);
    if (s.collect.onlyNew && continueDatabase(database))
        return std::nullopt;
    // Records of an earlier run are moved aside, never deleted.
    RunHistory history(QFileInfo(database).absolutePath(), m_options.keepRuns);
    QString notice;
    if (!history.retire(database, &error, &notice))
        return u"无法移开上次采集的数据库（"_s + error + u"）"_s;
    if (!notice.isEmpty()) {
        s.notes << notice;
        Q_EMIT taskWarning(s.taskIndex, s.taskName, notice);
    }
    // Every run notes the page of each record, so any later run can collect
    // only what is new.
    if (!s.store.create(database, s.fieldCount, true))
        return u"无法创建数据库："_s + s.store.lastError();
    s.store.startRun(historyNames(history));
    m_failureLog.open(database);
    return std::nullopt;
}

// A run inside the current database never takes the name of an archived one
// (a database retired in the second the next run starts).
QStringList CollectionEngine::historyNames(const RunHistory &history)
{
    QStringList names;
    for (const HistoryRun &run : history.runs())
        names << run.name;
    return names;
}

bool CollectionEngine::continueDatabase(const QString &database)
{
    EngineState &s = m_state;
    QString why;
    if (!s.store.continueExisting(database, s.fieldCount, &why)) {
        // The first run of a task has nothing to continue; any other reason
        // (a database of a run that was not only-new) is worth a word, and
        // the run starts a database of its own.
        if (QFileInfo::exists(database))
            s.notes << u"只采新内容：上次的数据库不能接着用（"_s + why + u"），本次从头采集"_s;
        return false;
    }
    s.storedPages = s.store.storedPages();
    s.storedRecords = s.store.storedRecords();
    s.store.startRun(historyNames(RunHistory(QFileInfo(database).absolutePath())));
    m_failureLog.open(database);
    return true;
}

void CollectionEngine::refuseTask(const QString &reason)
{
    EngineState &s = m_state;
    s.running = false;
    s.store.close();
    m_summaries[s.taskIndex].started = false;
    m_summaries[s.taskIndex].notStartedReason = reason;
    setRunLine(s.taskIndex, paddedName(s.taskName) + notStartedMarker() + reason);
    Q_EMIT taskNotStarted(s.taskIndex, s.taskName, reason);
}

void CollectionEngine::seedSchemeOne()
{
    EngineState &s = m_state;
    const QString prefix = s.schemeField(1);
    const QString suffix = s.schemeField(5);
    const std::optional<double> first = readAsNumber(s.schemeField(2));
    const std::optional<double> last = readAsNumber(s.schemeField(3));
    const std::optional<double> step = readAsNumber(s.schemeField(4));
    if (!first || !last || !step) {
        // A range that is not made of numbers yields one address without a number.
        s.appendContent(u"1|"_s + prefix + suffix + u'|');
        return;
    }
    if (*step == 0)
        return; // would never end
    for (double n = *first; *step > 0 ? n <= *last : n >= *last; n += *step) {
        // Plain decimal, rounded to 15 digits so steps like 0.1 do not show
        // their binary error (0.30000000000000004).
        const double shown = QString::number(n, 'g', 15).toDouble();
        const QString number = QString::number(shown, 'f', QLocale::FloatingPointShortest);
        if (!s.appendContent(u"1|"_s + prefix + number + suffix + u'|'))
            break;
    }
}

void CollectionEngine::storeRecord(const RecordToStore &record)
{
    EngineState &s = m_state;
    // Only what is new: a record an earlier run stored is not stored again.
    if (s.collect.onlyNew && record.page.isEmpty() &&
        s.storedRecords.contains(RecordStore::recordKey(record.line))) {
        ++s.tally.recordsKnown;
        return;
    }
    if (!s.waitingRecords.isEmpty()) {
        s.waitingRecords.append(record); // records keep their order
        return;
    }
    if (!tryStore(record)) {
        s.waitingRecords.append(record);
        s.waitingSince.start();
    }
}

void CollectionEngine::retryWaitingRecords(bool finally)
{
    EngineState &s = m_state;
    while (!s.waitingRecords.isEmpty() && tryStore(s.waitingRecords.first()))
        s.waitingRecords.removeFirst();
    if (s.waitingRecords.isEmpty() || (!finally && !s.waitingSince.hasExpired(RecordWaitMs)))
        return;
    const QString reason = u"数据库一直被占用："_s + s.store.lastError();
    for (const RecordToStore &record : std::as_const(s.waitingRecords))
        refuseRecord(record.line, reason);
    s.waitingRecords.clear();
}

void CollectionEngine::refuseRecord(const QString &recordLine, const QString &reason)
{
    m_state.countFailure(FailedFetch::Record, recordLine, reason);
    Q_EMIT recordRefused(recordLine, reason);
}

bool CollectionEngine::tryStore(const RecordToStore &record)
{
    EngineState &s = m_state;
    if (!s.store.append(record.line, record.page)) {
        if (s.store.lastFailureWasBusy())
            return false;
        refuseRecord(record.line, s.store.lastError());
        return true;
    }
    ++s.tally.recordsStored;
    if (s.runRowIds.size() < MaxListEntries) {
        s.runRowIds.append(s.store.lastRowId());
        Q_EMIT recordStored(int(s.runRowIds.size() - 1), record.line);
    }
    return true;
}

QStringList CollectionEngine::runRecords(int first, int count) const
{
    const QList<qint64> rows = m_state.runRowIds.mid(first, count);
    if (rows.isEmpty())
        return {};
    return RecordStore::readRows(m_workspace.databaseFile(m_state.taskName), m_state.fieldCount,
                                 rows)
        .value_or(QStringList(rows.size(), QString()));
}

void CollectionEngine::crawlerTick()
{
    m_crawler.tick();
}

void CollectionEngine::collectorTick()
{
    m_collector.tick();
}

void CollectionEngine::loseDeletedDatabase()
{
    EngineState &s = m_state;
    // The rows went with the file: they are counted as refused, and the task
    // stops, since nothing it collects could be kept.
    const qint64 lost = s.tally.recordsStored;
    s.tally.recordsStored = 0;
    s.tally.recordsRefused += lost;
    const QString note =
        u"数据库文件在采集中被删除，已存入的%1条记录随之丢失，任务已停止"_s.arg(lost);
    s.notes << note;
    s.runRowIds.clear();
    Q_EMIT runRecordsCleared();
    Q_EMIT taskWarning(s.taskIndex, s.taskName, note);
    for (const RecordToStore &record : std::as_const(s.waitingRecords))
        refuseRecord(record.line, u"数据库文件已被删除"_s);
    s.waitingRecords.clear();
    s.store.close();
    completeTask();
}

void CollectionEngine::listFailure(const FailedFetch &failure)
{
    QString error;
    if (!m_failureLog.append({failure.kindText(), failure.reason, failure.url}, &error)) {
        if (m_state.tally.failuresUnlisted++ == 0) {
            m_failureLogError = error;
            Q_EMIT taskWarning(m_state.taskIndex, m_state.taskName,
                               u"失败清单无法写入（%1）：%2"_s.arg(
                                   error, QDir::toNativeSeparators(m_failureLog.fileName())));
        }
    }
    Q_EMIT fetchFailed(failure);
}

void CollectionEngine::listFetchDone(int index, const QString &url, const QString &file,
                                     const QString &text, qint64 count, const QString &tag1,
                                     const QString &tag2, const QByteArray &body,
                                     const QByteArray &charset)
{
    Q_UNUSED(tag1);
    Q_UNUSED(tag2);
    if (index < 1 || index > SlotCount || m_state.listPending[index].run != m_state.runId ||
        m_state.listPending[index].file != file)
        return; // a fetch of an earlier run
    m_state.listPending[index].run = 0;
    ++m_state.fetchesFinished;
    m_crawler.fetchDone(index, url, file, count, text, body, charset);
}

void CollectionEngine::contentFetchDone(int index, const QString &url, const QString &file,
                                        const QString &text, qint64 count, const QString &tag1,
                                        const QString &tag2, const QByteArray &body,
                                        const QByteArray &charset)
{
    if (index < 1 || index > SlotCount || m_state.contentPending[index].run != m_state.runId ||
        m_state.contentPending[index].file != file)
        return;
    m_state.contentPending[index].run = 0;
    ++m_state.fetchesFinished;
    const qint64 downloadsBefore = m_state.tally.downloadsStored;
    m_collector.fetchDone(index, url, file, count, tag1, tag2, text, body, charset,
                          m_state.contentPending[index].origin);
    if (m_state.tally.downloadsStored > downloadsBefore)
        Q_EMIT downloadStored(url);
}

QString CollectionEngine::commonReasons() const
{
    constexpr int Shown = 3;
    QHash<QString, int> counts;
    for (const FailedFetch &failure : m_state.failures) {
        if (failure.kind != FailedFetch::Garbled)
            ++counts[failure.reason.isEmpty() ? u"未知"_s : failure.reason];
    }
    QList<QPair<QString, int>> sorted;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        sorted.append({it.key(), it.value()});
    std::sort(sorted.begin(), sorted.end(), [](const auto &a, const auto &b) {
        return a.second != b.second ? a.second > b.second : a.first < b.first;
    });
    QStringList shown;
    for (qsizetype i = 0; i < std::min<qsizetype>(Shown, sorted.size()); ++i)
        shown << sorted[i].first + u'×' + QString::number(sorted[i].second);
    return shown.join(u"，"_s) + (sorted.size() > Shown ? u"等"_s : QString());
}

} // namespace caiji
