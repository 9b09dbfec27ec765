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

// A number typed with a Chinese input method: full-width digits, minus or
// point, which no number reader takes. The half-width form, or nothing when
// the text is no such number.
std::optional<QString> fullWidthNumber(const QString &text)
{
    QString half = text;
    for (QChar &c : half) {
        const char16_t u = c.unicode();
        if (u >= 0xFF10 && u <= 0xFF19)
            c = QChar(char16_t(u'0' + (u - 0xFF10)));
        else if (u == 0xFF0D || u == 0x2212)
            c = u'-';
        else if (u == 0xFF0E)
            c = u'.';
    }
    if (half == text || !readAsNumber(half))
        return std::nullopt;
    return half.trimmed();
}

QString fullWidthProblem(const QString &what, const QString &written, const QString &half)
{
    return what + u"“"_s + written + u"”用了全角字符，程序读不出这个数：请改成半角的“"_s + half +
           u"”"_s;
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
                             const QString &endMarker, FieldTrace *trace) const
{
    const qsizetype vs = find(from, startMarker);
    traceMarker(trace, u"取值开始"_s, startMarker, vs);
    if (vs == 0) {
        if (trace)
            trace->problem = u"取值开始标记“"_s + startMarker + u"”在起点之后找不到"_s;
        return {};
    }
    const qsizetype s = vs + startMarker.size();
    const qsizetype ve = find(s, endMarker);
    traceMarker(trace, u"取值结束"_s, endMarker, ve);
    if (ve == 0 || !(vs < ve) || (limit > 0 && !(vs < limit && ve <= limit))) {
        if (trace) {
            if (ve == 0)
                trace->problem = u"取值结束标记“"_s + endMarker + u"”在取值开始之后找不到"_s;
            else if (limit > 0 && !(vs < limit))
                trace->problem = u"取值开始标记只在区域（块）结束之后才出现"_s;
            else
                trace->problem = u"取值结束标记在区域（块）结束之后"_s;
        }
        return {};
    }
    const QString value = mid(m_page, s, ve - s);
    if (trace && value.isEmpty())
        trace->problem = u"取值开始与结束标记之间没有内容"_s;
    return value;
}

FieldTrace *PageCutter::traceField(Record &record, FieldTrace::Kind kind, int number,
                                   const QString &spec)
{
    if (!m_trace)
        return nullptr;
    FieldTrace field;
    field.kind = kind;
    field.number = number;
    field.spec = spec;
    record.trace.fields.append(field);
    return &record.trace.fields.last();
}

void PageCutter::traceMarker(FieldTrace *trace, const QString &role, const QString &marker,
                             qsizetype position) const
{
    if (!trace)
        return;
    MarkerTrace hit{role, marker, position, 0, 0};
    if (position > 0)
        locate(m_page, position, &hit.line, &hit.column);
    trace->markers.append(hit);
}

int PageCutter::countOf(const QString &text) const
{
    return std::clamp<int>(toInt16(text).value_or(0), 0, MaxFieldsPerList);
}

CutResult PageCutter::cut(QString page, const QString &url, int level, const QString &prefix)
{
    CutResult result;
    if (level < 1 || level > MaxLevel) {
        if (m_trace)
            m_trace->problems << u"第%1层没有规则段（层数须在1到30之间）"_s.arg(level);
        return result;
    }
    // The separators of queue entries and record lines cannot occur in values.
    // "|" and "^" have no other letter case, so a plain replacement in place is
    // the case-insensitive one.
    m_page = std::move(page);
    for (QChar &c : m_page) {
        if (c == u'|' || c == u'^')
            c = u'*';
    }
    m_url = url;
    getw(m_definition.section[level], m_w);
    const std::optional<double> mode = readAsNumber(m_w[0]);
    if (m_trace) {
        m_trace->level = level;
        m_trace->mode = m_w[0];
        if (m_definition.section[level].isEmpty())
            m_trace->problems << u"任务文件中没有第%1层的规则段<getm%1>…<getm%1>"_s.arg(level);
        // Numbers typed wrong: the page is cut as the rules read them, but
        // that is not what the writer meant.
        for (int k : {1, 2, 3, 5, 7}) {
            if (const std::optional<QString> half = fullWidthNumber(m_w[k - 1]))
                m_trace->problems << fullWidthProblem(u"w%1=[[…]]的"_s.arg(k), m_w[k - 1], *half);
        }
        if (!mode && !fullWidthNumber(m_w[0]))
            m_trace->problems
                << u"w1=[[%1]]不是数字：页面模式应是1或2，现在两种模式都按它截取"_s.arg(m_w[0]);
    }
    if (!mode || *mode == 1)
        pageModeOne(url, prefix, result);
    if (!mode || *mode == 2)
        pageModeTwo(result);
    if (mode && *mode != 1 && *mode != 2) {
        if (m_trace)
            m_trace->problems << u"w1=[[%1]]：页面模式只能是1或2，什么也不提取"_s.arg(m_w[0]);
    }
    return result;
}

void PageCutter::pageModeOne(const QString &url, const QString &prefix, CutResult &result)
{
    Record record;
    record.line = prefix;
    const std::optional<double> addUrl = readAsNumber(m_w[1]);
    if (!addUrl || *addUrl == 1) {
        record.line += u'^' + url;
        if (FieldTrace *trace = traceField(record, FieldTrace::Kind::Address, 0, m_w[1]))
            trace->cut = trace->value = url;
    }

    const QStringList markerSpecs = m_w[3].split(u'|');
    const int markerCount = countOf(m_w[2]);
    for (int j = 0; j < markerCount && !record.failed; ++j)
        markerField(j + 1, partOf(markerSpecs, j), record);

    if (!record.failed) {
        const QStringList patternSpecs = m_w[5].split(u'|');
        const int patternCount = countOf(m_w[4]);
        for (int j = 0; j < patternCount && !record.failed; ++j) {
            const QStringList part = partOf(patternSpecs, j).split(u'^');
            FieldTrace *trace =
                traceField(record, FieldTrace::Kind::Pattern, j + 1, partOf(patternSpecs, j));
            const QString value =
                getreg(partOf(part, 0), m_page, trace ? &trace->patternError : nullptr);
            if (trace) {
                if (!trace->patternError.isEmpty())
                    trace->problem = u"正则表达式无效："_s + trace->patternError;
                else if (value.isEmpty())
                    trace->problem = u"正则表达式“"_s + partOf(part, 0) + u"”在页面中没有匹配"_s;
            }
            fieldTail(value, partOf(part, 1), partOf(part, 2), record, trace);
        }
    }
    constantFields(record);
    finishRecord(record, true, result);
}

void PageCutter::markerField(int number, const QString &spec, Record &record)
{
    const QStringList part = spec.split(u'^');
    FieldTrace *trace = traceField(record, FieldTrace::Kind::Marker, number, spec);
    QString value;
    const qsizetype rs = find(1, partOf(part, 0));
    traceMarker(trace, u"区域开始"_s, partOf(part, 0), rs);
    if (rs > 0) {
        const qsizetype re = find(rs, partOf(part, 1));
        traceMarker(trace, u"区域结束"_s, partOf(part, 1), re);
        // The value-end marker must start no later than the region end.
        value = re > 0 ? cutValue(rs, re, partOf(part, 2), partOf(part, 3), trace) : QString();
        if (trace && re == 0)
            trace->problem = u"区域结束标记“"_s + partOf(part, 1) + u"”在区域开始之后找不到"_s;
    } else if (trace) {
        trace->problem = u"区域开始标记“"_s + partOf(part, 0) + u"”在页面中找不到"_s;
    }
    fieldTail(value, partOf(part, 4), partOf(part, 5), record, trace);
}

void PageCutter::fieldTail(QString value, const QString &level, const QString &alistNumber,
                           Record &record, FieldTrace *trace)
{
    if (trace) {
        trace->cut = value;
        if (const std::optional<QString> half = fullWidthNumber(level))
            trace->problem = fullWidthProblem(u"层部分"_s, level, *half);
    }
    if (!alistNumber.trimmed().isEmpty()) {
        const std::optional<double> a = readAsNumber(alistNumber);
        if (!a || *a > 0) {
            const std::optional<qint16> k = toInt16(alistNumber);
            const bool known = k && *k >= 1 && *k <= MaxLevel;
            QList<AlistStep> *steps = trace ? &trace->alistSteps : nullptr;
            const QString cleaned = known ? geta(value, m_definition.alist[*k], steps) : QString();
            if (trace) {
                trace->alist = known ? *k : 0;
                const std::optional<QString> half = fullWidthNumber(alistNumber);
                if (!known)
                    trace->problem = half ? fullWidthProblem(u"a列表编号"_s, alistNumber, *half)
                                          : u"a列表编号“"_s + alistNumber + u"”不在1到30之间"_s;
                else if (m_definition.alist[*k].isEmpty())
                    trace->problem = u"任务文件中没有a"_s + QString::number(*k) + u"=[[…]]"_s;
                else if (!value.isEmpty() && cleaned.isEmpty())
                    trace->problem =
                        u"a列表"_s + QString::number(*k) + u"的" +
                        (trace->alistSteps.isEmpty() ? u"结果为空"_s
                                                     : trace->alistSteps.last().step + u"：" +
                                                           trace->alistSteps.last().detail);
            }
            if (value.isEmpty() || cleaned.isEmpty()) {
                if (trace)
                    trace->problem += u"（此字段必填，整条记录丢弃）"_s;
                record.failed = true;
                return;
            }
            value = cleaned;
        }
    }

    const std::optional<double> l = level.trimmed().isEmpty() ? 0.0 : readAsNumber(level);
    if (!l || *l > -1) {
        if (trace && level.trimmed().isEmpty() && trace->problem.isEmpty())
            trace->problem = u"没有写层部分，按下载（第0层）处理：字段的值被当作文件地址下载，"
                             u"普通字段要写-1"_s;
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
        if (trace)
            trace->linkLevel = record.linkLevel;
        if (!l || *l < 1)
            value = name1(value);
    }
    if (trace)
        trace->value = value;
    record.line += u'^' + value;
}

void PageCutter::constantFields(Record &record)
{
    const QStringList constants = m_w[7].split(u'|');
    const int count = countOf(m_w[6]);
    for (int j = 0; j < count; ++j) {
        record.line += u'^' + partOf(constants, j);
        if (FieldTrace *trace =
                traceField(record, FieldTrace::Kind::Constant, j + 1, partOf(constants, j)))
            trace->cut = trace->value = partOf(constants, j);
    }
}

void PageCutter::finishRecord(const Record &record, bool lengthTest, CutResult &result)
{
    RecordTrace trace = m_trace ? record.trace : RecordTrace();
    if (record.failed) {
        trace.reason = u"必填字段为空或未通过a列表"_s;
    } else if (record.hasLink) {
        trace.line = record.linkLevel + u'|' + record.linkValue + u'|' + record.line;
        trace.outcome = RecordTrace::Outcome::Queued;
        result.queueEntries << trace.line;
    } else if (lengthTest && record.line.size() <= m_fieldCount + 3) {
        if (m_trace) {
            trace.line = record.line;
            trace.reason =
                u"记录行只有%1个字符（含“^”和页面地址），不多于uc+3=%2"_s.arg(record.line.size())
                    .arg(m_fieldCount + 3);
        }
    } else {
        trace.line = record.line;
        trace.outcome = RecordTrace::Outcome::Stored;
        result.records << record.line;
    }
    if (m_trace)
        m_trace->records.append(trace);
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
    if (m_trace && (rs == 0 || bs == 0 || be == 0 || be <= bs)) {
        m_trace->problems << (rs == 0 ? u"列表区开始标记“"_s + m_w[1] + u"”在页面中找不到"_s
                              : bs == 0
                                  ? u"块开始标记“"_s + m_w[2] + u"”在列表区开始之后找不到"_s
                                  : u"块结束标记“"_s + m_w[3] + u"”在第一个块开始之后找不到"_s);
    }
    const QStringList blockSpecs = m_w[5].split(u'|');
    const int blockCount = countOf(m_w[4]);
    // Each pass moves past the block end, so the loop ends.
    int block = 0;
    while (bs > 0 && be > 0 && be > bs) {
        Record record;
        record.trace.block = ++block;
        for (int j = 0; j < blockCount && !record.failed; ++j) {
            const QStringList part = partOf(blockSpecs, j).split(u'^');
            FieldTrace *trace =
                traceField(record, FieldTrace::Kind::Block, j + 1, partOf(blockSpecs, j));
            const QString value = cutValue(bs, be, partOf(part, 0), partOf(part, 1), trace);
            fieldTail(value, partOf(part, 2), partOf(part, 3), record, trace);
        }
        constantFields(record);
        finishRecord(record, false, result);

        bs = find(be, blockStart);
        be = bs > 0 ? find(bs, blockEnd) : 0;
    }
}

} // namespace caiji
