#include "fakefetcher.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace caiji::test {

FakeFetcher::FakeFetcher(QObject *parent) : Fetcher(parent) {}

void FakeFetcher::setPage(const QString &url, const QByteArray &body)
{
    m_pages.insert(url, body);
}

void FakeFetcher::setFailing(const QString &url)
{
    m_failing.insert(url);
}

void FakeFetcher::setHanging(const QString &url)
{
    m_hanging.insert(url);
}

void FakeFetcher::setTiny(const QString &url)
{
    m_tiny.insert(url);
}

void FakeFetcher::fetch(int index, const QString &url, const QString &file, const QString &tag1,
                        const QString &tag2)
{
    const Call call{index, url, file, tag1, tag2};
    m_calls.append(call);
    // A new fetch on a slot drops the one still pending there.
    if (const auto previous = m_slotTicket.constFind(index); previous != m_slotTicket.cend())
        m_scheduled.remove(*previous);
    const quint64 ticket = m_nextTicket++;
    m_slotTicket.insert(index, ticket);
    if (m_hanging.contains(url)) {
        m_hung.append(call);
        return;
    }
    m_scheduled.insert(ticket, call);
    QTimer::singleShot(0, this, [this, ticket] {
        const auto it = m_scheduled.find(ticket);
        if (it == m_scheduled.end())
            return;
        const Call scheduled = *it;
        m_scheduled.erase(it);
        complete(scheduled);
    });
}

void FakeFetcher::abandonAll()
{
    ++m_abandonCount;
    m_scheduled.clear();
}

void FakeFetcher::setAllowedDirectories(const QStringList &directories)
{
    m_allowed.clear();
    for (const QString &dir : directories)
        m_allowed << QDir::cleanPath(QDir(dir).absolutePath());
}

void FakeFetcher::startRun(const NetworkSettings &settings)
{
    m_runs.append(settings);
}

bool FakeFetcher::isAllowed(const QString &file) const
{
    return m_allowed.isEmpty() ||
           m_allowed.contains(QDir::cleanPath(QFileInfo(file).absolutePath()));
}

bool FakeFetcher::deliver(const QString &url)
{
    for (qsizetype i = 0; i < m_hung.size(); ++i) {
        if (m_hung[i].url == url) {
            const Call call = m_hung.takeAt(i);
            complete(call);
            return true;
        }
    }
    return false;
}

QStringList FakeFetcher::calledUrls() const
{
    QStringList urls;
    for (const Call &call : m_calls)
        urls << call.url;
    return urls;
}

void FakeFetcher::complete(const Call &call)
{
    qint64 count = -1;
    QByteArray inMemory;
    const bool known = m_pages.contains(call.url) || m_tiny.contains(call.url);
    if (known && !m_failing.contains(call.url) && isAllowed(call.file)) {
        const QByteArray body = m_tiny.contains(call.url) ? "ok"_ba : m_pages.value(call.url);
        if (pagesInMemory() && isPageFile(call.file) && body.size() > 2) {
            inMemory = body;
            count = body.size();
        } else {
            QFile file(call.file);
            if (file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                file.write(body) == body.size())
                count = body.size();
            else
                file.remove();
        }
    }
    ++m_delivered;
    Q_EMIT fetchDone(call.index, call.url, call.file, count < 0 ? u"failed"_s : QString(), count,
                     call.tag1, call.tag2, inMemory, QByteArray());
}

namespace {

constexpr int MaxSettleRounds = 1000;

} // namespace

void settle(const FakeFetcher &fetcher)
{
    for (int i = 0; i < MaxSettleRounds && fetcher.pendingCount() > 0; ++i)
        QCoreApplication::processEvents();
}

void settle(const FakeFetcher &first, const FakeFetcher &second)
{
    for (int i = 0; i < MaxSettleRounds && (first.pendingCount() > 0 || second.pendingCount() > 0);
         ++i)
        QCoreApplication::processEvents();
}

} // namespace caiji::test
