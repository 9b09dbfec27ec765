#include "engine/enginestate.h"

#include "text/names.h"
#include "text/numbers.h"

using namespace Qt::StringLiterals;

namespace caiji {

QString EngineState::webDir() const
{
    return taskDir + u"/web"_s;
}

QString EngineState::wekDir() const
{
    return taskDir + u"/wek"_s;
}

QString EngineState::pageFile(const QString &url) const
{
    return webDir() + u'/' + name1(url) + u" .txt"_s;
}

QString EngineState::downloadFile(const QString &url) const
{
    return wekDir() + u'/' + name1(url);
}

QString EngineState::schemeField(int i) const
{
    return definition.schemeField.value(i);
}

bool EngineState::schemeIs(int scheme) const
{
    if (definition.schemeField.isEmpty())
        return false;
    const std::optional<double> number = readAsNumber(definition.schemeField.first());
    return !number || *number == scheme;
}

bool EngineState::appendContent(const QString &entry, const QString &origin)
{
    if (contentQueue.size() >= MaxListEntries)
        return false;
    contentQueue.append(entry);
    contentOrigins.append(origin);
    return true;
}

bool EngineState::appendList(const QString &address)
{
    if (listQueue.size() >= MaxListEntries)
        return false;
    listQueue.append(address);
    return true;
}

QString EngineState::progressSignature() const
{
    return QString::number(contentQueue.size()) + QString::number(listQueue.size()) +
           QString::number(downloads.size()) + QString::number(pagesDone) +
           QString::number(listPagesDone) + QString::number(fetchesFinished + tally.pagesKnown) +
           QString::number(tally.recordsStored + tally.recordsRefused + tally.recordsKnown) +
           QString::number(tally.retries + requestsSent);
}

QString FailedFetch::kindText() const
{
    switch (kind) {
    case ListPage:
        return u"列表页"_s;
    case ContentPage:
        return u"第"_s + level + u"层内容页"_s;
    case Download:
        return u"下载"_s;
    case Record:
        return u"记录"_s;
    case Garbled:
        return u"乱码"_s;
    }
    return {};
}

void EngineState::countFailure(FailedFetch::Kind kind, const QString &url, const QString &reason,
                               const QString &level)
{
    if (kind == FailedFetch::Garbled)
        ++tally.pagesGarbled;
    else if (kind == FailedFetch::Download)
        ++tally.downloadsFailed;
    else if (kind == FailedFetch::Record)
        ++tally.recordsRefused;
    else
        ++tally.pagesFailed;
    const FailedFetch failure{kind, url, reason, level};
    if (failures.size() < MaxListEntries)
        failures.append(failure);
    if (failureListener)
        failureListener(failure);
}

void EngineState::flagGarbled(const QString &url, const QString &charset, qsizetype unreadable)
{
    if (unreadable > 0)
        countFailure(FailedFetch::Garbled, url,
                     (charset.isEmpty() ? QString() : u"按"_s + charset + u"读，"_s) + u"有"_s +
                         QString::number(unreadable) + u"个字符无法识别"_s);
}

void EngineState::abandonListSlot(int slot, const QString &reason)
{
    if (slot < 1 || slot > SlotCount || listPending[slot].run != runId)
        return;
    listPending[slot].run = 0;
    countFailure(FailedFetch::ListPage, listPending[slot].url, reason);
}

void EngineState::abandonContentSlot(int slot, const QString &reason)
{
    if (slot < 1 || slot > SlotCount || contentPending[slot].run != runId)
        return;
    PendingFetch &pending = contentPending[slot];
    pending.run = 0;
    countFailure(pending.download ? FailedFetch::Download : FailedFetch::ContentPage, pending.url,
                 reason, pending.level);
}

} // namespace caiji
