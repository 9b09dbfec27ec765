#include "engine/pagecutter.h"

#include "text/foldscan.h"
#include "text/names.h"
#include "text/numbers.h"
#include "text/positions.h"

#include <QUrl>

using namespace Qt::StringLiterals;

namespace caiji {

namespace {

// More fields than this in one field list is a typing error, not a task.
constexpr int MaxFieldsPerList = 1000;

QString partOf(const QStringList &parts, int i)
{
    return i < parts.size() ? parts[i] : QString();
}

} // namespace

PageCutter::PageCutter(const TaskDefinition &definition, int fieldCount, WValues &w)
    : m_definition(definition), m_fieldCount(fieldCount), m_w(w)
{
}

// As instr in a lower-cased copy of the page, without making the copy.
qsizetype PageCutter::find(qsizetype from, const foldscan::Needle &marker) const
{
    from = std::max<qsizetype>(from, 1);
    if (m_page.isEmpty() || from > m_page.size())
        return 0;
    if (marker.isEmpty())
        return from;
    return marker.findIn(QStringView(m_page).utf16(), from - 1, m_page.size()) + 1;
}

qsizetype PageCutter::find(qsizetype from, QStringView marker) const
{
    return find(from, foldscan::Needle(marker));
}

// The value between `startMarker` and `endMarker` when both lie between `from`
// and `limit` (1-based; `limit` 0 = no limit). The end marker is searched
// after the whole start marker, so "href=\"" ... "\"" cuts the address.
QString PageCutter::cutValue(qsizetype from, qsizetype limit, const QString &startMarker,
                             const QString &endMarker) const
{
    const qsizetype vs = find(from, startMarker);
    if (vs == 0)
        return {};
    const qsizetype s = vs + startMarker.size();
    const qsizetype ve = find(s, endMarker);
    if (ve == 0 || !(vs < ve) || (limit > 0 && !(vs < limit && ve <= limit)))
        return {};
    return mid(m_page, s, ve - s);
}

int PageCutter::countOf(const QString &text) const
{
    return std::clamp<int>(toInt16(text).value_or(0), 0, MaxFieldsPerList);
}

CutResult PageCutter::cut(QString page, const QString &url, int level, const QString &prefix)
{
    CutResult result;
    if (level < 1 || level > MaxLevel) {
        result.notes << u"level %1 has no section"_s.arg(level);
        return result;
    }
    // The separators of queue entries and record lines cannot occur in values.
    // "|" and "^" have no other letter case, so a plain replacement in place is
    // the case-insensitive one.
    m_page = std::move(page);
    m_page.replace(u'|', u'*').replace(u'^', u'*');
    m_url = url;
    getw(m_definition.section[level], m_w);

    const std::optional<double> mode = readAsNumber(m_w[0]);
    if (!mode || *mode == 1)
        pageModeOne(url, prefix, result);
    if (!mode || *mode == 2)
        pageModeTwo(result);
    if (mode && *mode != 1 && *mode != 2)
        result.notes << u"w1 is %1: nothing is extracted"_s.arg(m_w[0]);
    return result;
}

void PageCutter::pageModeOne(const QString &url, const QString &prefix, CutResult &result)
{
    Record record;
    record.line = prefix;
    const std::optional<double> addUrl = readAsNumber(m_w[1]);
    if (!addUrl || *addUrl == 1)
        record.line += u'^' + url;

    const QStringList markerSpecs = m_w[3].split(u'|');
    const int markerCount = countOf(m_w[2]);
    for (int j = 0; j < markerCount && !record.failed; ++j)
        markerField(partOf(markerSpecs, j).split(u'^'), record);

    if (!record.failed) {
        const QStringList patternSpecs = m_w[5].split(u'|');
        const int patternCount = countOf(m_w[4]);
        for (int j = 0; j < patternCount && !record.failed; ++j) {
            const QStringList part = partOf(patternSpecs, j).split(u'^');
            fieldTail(getreg(partOf(part, 0), m_page), partOf(part, 1), partOf(part, 2), record);
        }
    }
    constantFields(record);
    finishRecord(record, true, result);
}

void PageCutter::markerField(const QStringList &part, Record &record)
{
    QString value;
    const qsizetype rs = find(1, partOf(part, 0));
    if (rs > 0) {
        const qsizetype re = find(rs, partOf(part, 1));
        // The value-end marker must start no later than the region end.
        value = re > 0 ? cutValue(rs, re, partOf(part, 2), partOf(part, 3)) : QString();
    }
    fieldTail(value, partOf(part, 4), partOf(part, 5), record);
}

void PageCutter::fieldTail(QString value, const QString &level, const QString &alistNumber,
                           Record &record)
{
    if (!alistNumber.trimmed().isEmpty()) {
        const std::optional<double> a = readAsNumber(alistNumber);
        if (!a || *a > 0) {
            const std::optional<qint16> k = toInt16(alistNumber);
            const QString cleaned =
                k && *k >= 1 && *k <= MaxLevel ? geta(value, m_definition.alist[*k]) : QString();
            if (value.isEmpty() || cleaned.isEmpty()) {
                record.failed = true;
                return;
            }
            value = cleaned;
        }
    }

    const std::optional<double> l = level.trimmed().isEmpty() ? 0.0 : readAsNumber(level);
    if (!l || *l > -1) {
        record.hasLink = true;
        record.linkLevel = level.trimmed().isEmpty() ? u"0"_s : level;
        // Relative addresses are made complete against the page they were cut from.
        if (!value.isEmpty() && !value.startsWith(u"http://"_s, Qt::CaseInsensitive) &&
            !value.startsWith(u"https://"_s, Qt::CaseInsensitive)) {
            const QUrl resolved = QUrl(m_url).resolved(QUrl(value.trimmed()));
            if (resolved.isValid() && !resolved.isRelative())
                value = resolved.toString();
        }
        record.linkValue = value;
        if (!l || *l < 1)
            value = name1(value);
    }
    record.line += u'^' + value;
}

void PageCutter::constantFields(Record &record)
{
    const QStringList constants = m_w[7].split(u'|');
    const int count = countOf(m_w[6]);
    for (int j = 0; j < count; ++j)
        record.line += u'^' + partOf(constants, j);
}

void PageCutter::finishRecord(const Record &record, bool lengthTest, CutResult &result)
{
    if (record.failed) {
        result.notes << u"record dropped: a required field is empty or failed its a-list"_s;
        return;
    }
    if (record.hasLink) {
        result.queueEntries << record.linkLevel + u'|' + record.linkValue + u'|' + record.line;
        return;
    }
    if (lengthTest && record.line.size() <= m_fieldCount + 3) {
        result.notes << u"record dropped: \"%1\" is not longer than %2 characters"_s
                            .arg(record.line)
                            .arg(m_fieldCount + 3);
        return;
    }
    result.records << record.line;
}

void PageCutter::pageModeTwo(CutResult &result)
{
    const foldscan::Needle blockStart(m_w[2]);
    const foldscan::Needle blockEnd(m_w[3]);
    qsizetype bs = 0;
    qsizetype be = 0;
    const qsizetype rs = find(1, m_w[1]);
    if (rs > 0) {
        bs = find(rs, blockStart);
        if (bs > 0)
            be = find(bs, blockEnd);
    }
    const QStringList blockSpecs = m_w[5].split(u'|');
    const int blockCount = countOf(m_w[4]);
    // Each pass moves past the block end, so the loop ends.
    while (bs > 0 && be > 0 && be > bs) {
        Record record;
        for (int j = 0; j < blockCount && !record.failed; ++j) {
            const QStringList part = partOf(blockSpecs, j).split(u'^');
            const QString value = cutValue(bs, be, partOf(part, 0), partOf(part, 1));
            fieldTail(value, partOf(part, 2), partOf(part, 3), record);
        }
        constantFields(record);
        finishRecord(record, false, result);

        bs = find(be, blockStart);
        be = bs > 0 ? find(bs, blockEnd) : 0;
    }
}

} // namespace caiji
