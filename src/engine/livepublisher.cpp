#include "engine/livepublisher.h"

#include "records/publishrows.h"
#include "records/recordstore.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <map>
#include <memory>

using namespace Qt::StringLiterals;

namespace caiji {

// Lives in the publishing thread: the server connections are made, used and
// closed there.
class LivePublisher::Worker : public QObject
{
    Q_OBJECT

public:
    struct Followed
    {
        QString database;
        std::unique_ptr<ServerConnection> connection;
        std::unique_ptr<RecordPublisher> publisher;
        // The last row the server took or refused; read by the caller's
        // thread at the end.
        std::shared_ptr<std::atomic<qint64>> mark;
        PublishOutcome outcome;
        QString setupError;
    };

    QList<int> finalDelaysMs{1000, 2000, 4000};

    void follow(const QString &task, const QString &database, const QString &url,
                const QString &table, const QString &source,
                const std::shared_ptr<std::atomic<qint64>> &mark)
    {
        Followed &followed = m_followed[task];
        followed = Followed();
        followed.database = database;
        followed.mark = mark;
        QString why;
        const std::optional<ServerAddress> address = ServerAddress::parse(url, &why);
        if (!address) {
            followed.setupError = why;
        } else if (source.isEmpty()) {
            followed.setupError = u"无法读写数据库%1"_s.arg(database);
        } else {
            followed.connection = std::make_unique<ServerConnection>(*address);
            followed.publisher =
                std::make_unique<RecordPublisher>(followed.connection.get(), table, task, source);
        }
        if (!m_timer) {
            m_timer = new QTimer(this);
            m_timer->setInterval(IntervalMs);
            connect(m_timer, &QTimer::timeout, this, &Worker::publishAll);
        }
        m_timer->start();
    }

    // `last` holds the rows the task stored after the mark, read when it
    // ended (nothing, with `why`, when they could not be read).
    void finish(const QString &task, const std::optional<QList<PublishRow>> &last,
                const QString &why)
    {
        const auto found = m_followed.find(task);
        if (found == m_followed.end()) {
            Q_EMIT finished(task, PublishOutcome());
            return;
        }
        Followed &followed = found->second;
        if (followed.publisher)
            followed.publisher->setRetryDelays(finalDelaysMs);
        if (last)
            publish(task, followed, *last, true);
        else if (followed.outcome.error.isEmpty())
            followed.outcome.error = why;
        const PublishOutcome outcome = followed.outcome;
        m_followed.erase(found);
        if (m_followed.empty() && m_timer)
            m_timer->stop();
        Q_EMIT finished(task, outcome);
    }

Q_SIGNALS:
    void published(const QString &task, qint64 rows);
    void finished(const QString &task, const caiji::PublishOutcome &outcome);

private:
    void publishAll()
    {
        for (auto &[task, followed] : m_followed) {
            if (!followed.publisher)
                continue;
            QString why;
            const std::optional<QList<PublishRow>> rows =
                PublishRows::read(followed.database, {}, *followed.mark, {}, &why);
            if (rows)
                publish(task, followed, *rows, false);
        }
    }

    void publish(const QString &task, Followed &followed, const QList<PublishRow> &rows, bool last)
    {
        // Rows published before (the end read them while a look was under
        // way) are not sent again.
        QList<PublishRow> batch;
        for (const PublishRow &row : rows) {
            if (row.row > *followed.mark)
                batch << row;
        }
        if (!followed.publisher) {
            followed.outcome.failed += batch.size();
            followed.outcome.error = followed.setupError;
            return;
        }
        // While the task runs, a lost server is tried again at the next look,
        // not waited for.
        if (!last)
            followed.publisher->setRetryDelays({});
        // Rows stored by the live publisher carry the time they came.
        for (PublishRow &row : batch)
            row.collected = QDateTime::currentDateTime();
        const PublishOutcome done = followed.publisher->upsert(batch);
        const qint64 lost = done.failed;
        const bool serverAway =
            lost > 0 && done.added + done.updated == 0 && !followed.connection->isOpen();
        if (serverAway && !last) {
            // Nothing taken: the same rows at the next look.
            return;
        }
        followed.outcome.added += done.added;
        followed.outcome.updated += done.updated;
        followed.outcome.failed += done.failed;
        if (followed.outcome.error.isEmpty())
            followed.outcome.error = done.error;
        if (!batch.isEmpty())
            followed.mark->store(batch.constLast().row);
        if (done.added + done.updated > 0)
            Q_EMIT published(task, done.added + done.updated);
    }

    std::map<QString, Followed> m_followed;
    QTimer *m_timer = nullptr;
};

LivePublisher::LivePublisher(QObject *parent)
    : QObject(parent), m_thread(new QThread(this)), m_worker(new Worker)
{
    qRegisterMetaType<PublishOutcome>();
    m_worker->moveToThread(m_thread);
    connect(m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    connect(m_worker, &Worker::published, this, &LivePublisher::published);
    connect(m_worker, &Worker::finished, this,
            [this](const QString &task, const PublishOutcome &outcome) {
                if (--m_pending[task] <= 0)
                    m_pending.remove(task);
                if (--m_finishing[task] <= 0)
                    m_finishing.remove(task);
                Q_EMIT finished(task, outcome);
            });
    m_thread->start();
}

LivePublisher::~LivePublisher()
{
    m_thread->quit();
    m_thread->wait();
}

void LivePublisher::follow(const QString &task, const QString &database, const QString &url,
                           const QString &table, qint64 afterRow)
{
    ++m_pending[task];
    auto mark = std::make_shared<std::atomic<qint64>>(afterRow);
    m_followed[task] = {database, mark};
    const QString source = RecordStore::identity(database);
    QMetaObject::invokeMethod(
        m_worker, [=, this] { m_worker->follow(task, database, url, table, source, mark); });
}

void LivePublisher::finish(const QString &task)
{
    if (m_pending.value(task) <= m_finishing.value(task))
        return;
    ++m_finishing[task];
    // The last rows are read now: the task's next run may move its database
    // into the history before the publishing thread comes to them.
    const Followed followed = m_followed.value(task);
    QString why;
    const std::optional<QList<PublishRow>> last = PublishRows::read(
        followed.database, {}, followed.mark ? followed.mark->load() : 0, {}, &why);
    QMetaObject::invokeMethod(m_worker, [=, this] { m_worker->finish(task, last, why); });
}

void LivePublisher::finishAll()
{
    for (auto it = m_pending.cbegin(); it != m_pending.cend(); ++it) {
        for (int i = m_finishing.value(it.key()); i < it.value(); ++i)
            finish(it.key());
    }
}

bool LivePublisher::waitForFinished(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    QEventLoop loop;
    const QMetaObject::Connection quit = connect(this, &LivePublisher::finished, &loop, [&] {
        if (m_pending.isEmpty())
            loop.quit();
    });
    QTimer timer;
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    if (!m_pending.isEmpty()) {
        timer.start(int(std::max<qint64>(1, deadline.remainingTime())));
        loop.exec();
    }
    disconnect(quit);
    return m_pending.isEmpty();
}

void LivePublisher::setFinalRetryDelays(const QList<int> &delaysMs)
{
    QMetaObject::invokeMethod(m_worker, [=, this] { m_worker->finalDelaysMs = delaysMs; });
}

} // namespace caiji

#include "livepublisher.moc"
