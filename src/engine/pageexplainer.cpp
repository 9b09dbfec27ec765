#include "engine/pageexplainer.h"

#include "engine/linklister.h"
#include "engine/linkrules.h"
#include "engine/pagecutter.h"
#include "tasks/taskfile.h"
#include "text/numbers.h"
#include "text/positions.h"
#include "text/readtext.h"

#include <QJsonArray>

using namespace Qt::StringLiterals;

namespace caiji {

namespace {

QString kindKey(FieldTrace::Kind kind)
{
    switch (kind) {
    case FieldTrace::Kind::Address:
        return u"address"_s;
    case FieldTrace::Kind::Marker:
        return u"marker"_s;
    case FieldTrace::Kind::Pattern:
        return u"pattern"_s;
    case FieldTrace::Kind::Block:
        return u"block"_s;
    case FieldTrace::Kind::Constant:
        return u"constant"_s;
    }
    return {};
}

QString outcomeKey(RecordTrace::Outcome outcome)
{
    switch (outcome) {
    case RecordTrace::Outcome::Stored:
        return u"stored"_s;
    case RecordTrace::Outcome::Queued:
        return u"queued"_s;
    case RecordTrace::Outcome::Dropped:
        return u"dropped"_s;
    }
    return {};
}

// A queue entry's level as the dispatcher reads it: 0, or not a number,
// means a finished record whose file downloads.
bool readsAsZero(const QString &level)
{
    const std::optional<double> number = readAsNumber(level);
    return !number || *number == 0;
}

// Long values are shown by their ends.
QString shortened(const QString &value)
{
    constexpr qsizetype Shown = 120;
    QString one = value;
    one.replace(u"\r\n"_s, u"↵"_s).replace(u'\n', u'↵').replace(u'\r', u'↵');
    if (one.size() <= Shown)
        return one;
    return one.first(Shown / 2) + u" …（共"_s + QString::number(value.size()) + u"字）… "_s +
           one.last(Shown / 2);
}

QString quoted(const QString &value)
{
    return value.isEmpty() ? u"（空）"_s : u"“"_s + shortened(value) + u"”"_s;
}

class Painter
{
public:
    explicit Painter(bool colour) : m_colour(colour) {}
    QString bad(const QString &text) const { return wrap(u"31"_s, text); }
    QString strong(const QString &text) const { return wrap(u"1"_s, text); }
    QString good(const QString &text) const { return wrap(u"32"_s, text); }

private:
    QString wrap(const QString &code, const QString &text) const
    {
        return m_colour ? u"\x1b["_s + code + u'm' + text + u"\x1b[0m"_s : text;
    }
    bool m_colour;
};

void describeField(const FieldTrace &field, const Painter &paint, QString &out)
{
    out += u"  "_s + field.name();
    if (field.kind != FieldTrace::Kind::Address && field.kind != FieldTrace::Kind::Constant)
        out += u"  "_s + field.spec;
    out += u'\n';
    for (const MarkerTrace &marker : field.markers) {
        out += u"    "_s + marker.role + u"标记 “"_s + marker.marker + u"” "_s +
               (marker.position > 0 ? u"在第%1行第%2列"_s.arg(marker.line).arg(marker.column)
                                    : paint.bad(u"没有找到"_s)) +
               u'\n';
    }
    if (!field.patternError.isEmpty())
        out += u"    "_s + paint.bad(u"正则表达式无效："_s + field.patternError) + u'\n';
    if (field.kind != FieldTrace::Kind::Address && field.kind != FieldTrace::Kind::Constant)
        out += u"    截取值："_s + quoted(field.cut) + u'\n';
    if (field.alist > 0) {
        out += u"    a列表"_s + QString::number(field.alist) + u"：\n"_s;
        for (const AlistStep &step : field.alistSteps) {
            const QString line = step.step +
                                 (step.detail.isEmpty() ? QString() : u" "_s + step.detail) +
                                 (step.failed ? QString() : u" → "_s + quoted(step.value));
            out += u"      "_s + (step.failed ? paint.bad(u"✗ "_s + line) : line) + u'\n';
        }
    }
    if (!field.linkLevel.isEmpty()) {
        const bool download = readsAsZero(field.linkLevel);
        out += u"    链接字段："_s +
               (download ? u"下载文件（第0层），记录中保存编码后的地址"_s
                         : u"取第"_s + field.linkLevel + u"层页面"_s) +
               u'\n';
    }
    if (!field.problem.isEmpty())
        out += u"    "_s + paint.bad(u"✗ "_s + field.problem) + u'\n';
    out += u"    记录值："_s + quoted(field.value) + u'\n';
}

} // namespace

PageTrace explainPage(const QString &taskText, const QByteArray &pageBytes, const QString &url,
                      int level, const QString &fetch, const QByteArray &headerCharset)
{
    PageTrace trace;
    trace.url = url;
    trace.level = level;
    trace.fetch = fetch;
    trace.bytes = pageBytes.size();
    PageCharset charset;
    QString page = decodePage(pageBytes, &charset, headerCharset);
    trace.charset = charset.name;
    trace.charsetReason = charset.reason;
    if (page.isEmpty()) {
        trace.problems << u"页面不足10个字符，采集时不读取"_s;
        return trace;
    }
    // Text read in the wrong set fails every marker: the set comes first.
    if (const qsizetype unreadable = unreadableCharacters(page))
        trace.problems << u"字符集不对：按"_s + charset.name + u"读，有"_s +
                              QString::number(unreadable) + u"个字符无法识别（"_s + charset.reason +
                              u"）；页面的真实字符集可能是别的，可在页面头部或服务器上查看"_s;
    TaskDefinition definition;
    readTaskDefinition(taskText, definition);
    WValues w;
    PageCutter cutter(definition, fieldCountOf(taskText), w);
    cutter.setTrace(&trace);
    cutter.cut(std::move(page), url, level, QString());
    return trace;
}

QString explanationText(const PageTrace &trace, bool colour)
{
    const Painter paint(colour);
    QString out;
    const QString problem = trace.firstProblem();
    // A record that was still stored with an empty field needs a look; one
    // that came to nothing needs a fix.
    // A record whose next page cannot be had will never be stored.
    const bool dead = trace.next && !trace.next->fetched;
    if (problem.isEmpty())
        out += paint.good(u"没有问题：每个字段都有值"_s) + u'\n';
    else if (trace.yieldedSomething() && !dead)
        out += paint.bad(u"请检查："_s + problem) + u'\n';
    else
        out += paint.bad(u"需要修改："_s + problem) + u'\n';
    out += paint.strong(u"页面 "_s + trace.url + u"（第"_s + QString::number(trace.level) +
                        u"层）"_s) +
           u'\n';
    out += u"  取得："_s + trace.fetch;
    if (trace.bytes >= 0)
        out += u"，"_s + QString::number(trace.bytes) + u"字节"_s;
    out += u'\n';
    if (!trace.charset.isEmpty())
        out += u"  字符集："_s + trace.charset + u"（"_s + trace.charsetReason + u"）\n"_s;
    if (!trace.mode.isEmpty())
        out += u"  页面模式：w1=[["_s + trace.mode + u"]]\n"_s;
    for (const QString &pageProblem : trace.problems)
        out += u"  "_s + paint.bad(u"✗ "_s + pageProblem) + u'\n';
    int number = 0;
    for (const RecordTrace &record : trace.records) {
        out +=
            paint.strong(u"记录"_s + QString::number(++number) +
                         (record.block > 0 ? u"（第"_s + QString::number(record.block) + u"块）"_s
                                           : QString())) +
            u'\n';
        for (const FieldTrace &field : record.fields)
            describeField(field, paint, out);
        switch (record.outcome) {
        case RecordTrace::Outcome::Stored:
            out += u"  "_s + paint.good(u"结果：存入 "_s + shortened(record.line)) + u'\n';
            break;
        case RecordTrace::Outcome::Queued: {
            const QString level = record.line.section(u'|', 0, 0);
            const QString address = record.line.section(u'|', 1, 1);
            const QString outcome = !readsAsZero(level)
                                        ? u"结果：排队，用第"_s + level + u"层的规则取 "_s + address
                                    : address.isEmpty() ? u"结果：存入（没有要下载的文件）"_s
                                                        : u"结果：存入，同时下载 "_s + address;
            out += u"  "_s + paint.good(outcome) + u'\n';
            break;
        }
        case RecordTrace::Outcome::Dropped:
            out += u"  "_s + paint.bad(u"结果：丢弃，"_s + record.reason) + u'\n';
            break;
        }
    }
    if (trace.records.isEmpty() && trace.problems.isEmpty())
        out += u"  没有记录\n"_s;
    if (trace.next && trace.next->fetched) {
        out += u"下一层：第%1层页面 %2 可以取得（%3）；用 --level %1 --url 加这个地址试它的规则\n"_s
                   .arg(trace.next->level)
                   .arg(trace.next->url, trace.next->fetch);
    } else if (!trace.next) {
        if (const std::optional<PageTrace::NextPage> next = trace.deeperPage())
            out += u"下一层：没有检查第%1层页面 %2 能否取得\n"_s.arg(next->level).arg(next->url);
    }
    return out;
}

QList<LinkTrace> explainLinks(const QString &taskText, const QByteArray &pageBytes,
                              const QString &url, const QByteArray &headerCharset)
{
    TaskDefinition definition;
    readTaskDefinition(taskText, definition);
    const LinkRules rules(definition.schemeField);
    const QString listing = ListLinks(url, decodePage(pageBytes, nullptr, headerCharset));
    QList<LinkTrace> links;
    qsizetype p1 = instr(1, listing, u"ur=[[") + 5;
    while (p1 > 5) {
        const qsizetype p2 = listingAddressEnd(listing, p1);
        if (p2 == 0)
            break;
        LinkTrace link;
        link.address = mid(listing, p1, p2 - p1);
        link.text = LinkRules::trimmedTitle(listedTitle(listing, p2));
        link.link = rules.canonical(link.address);
        if (link.link.isEmpty()) {
            link.asList = link.asContent = u"不在起始页所在的网站，或不是网页"_s;
        } else {
            link.asList = rules.refusedAsList(link.link);
            link.asContent = rules.refusedAsContent(link.link, link.text);
        }
        links.append(link);
        p1 = instr(p2, listing, u"ur=[[") + 5;
    }
    return links;
}

QString linksText(const QList<LinkTrace> &links, bool colour)
{
    const Painter paint(colour);
    const auto kept = [](const LinkTrace &link) { return link.asContent.isEmpty(); };
    const qsizetype content = std::count_if(links.begin(), links.end(), kept);
    const qsizetype list = std::count_if(
        links.begin(), links.end(), [](const LinkTrace &link) { return link.asList.isEmpty(); });
    QString out = content > 0 ? paint.good(u"没有问题：有内容页链接"_s)
                              : paint.bad(u"需要修改：没有一个链接被当作内容页收下，"_s
                                          u"看下面每个链接被哪一部分挡住"_s);
    out += u"\n共%1个链接：内容页收%2个，列表页收%3个\n"_s.arg(links.size()).arg(content).arg(list);
    int number = 0;
    for (const LinkTrace &link : links) {
        out += paint.strong(u"链接"_s + QString::number(++number)) + u' ' + link.address + u' ' +
               quoted(link.text) + u'\n';
        const auto verdict = [&](const QString &role, const QString &why) {
            out += u"  "_s + role + u"："_s +
                   (why.isEmpty() ? paint.good(u"收"_s) : paint.bad(u"不收，"_s + why)) + u'\n';
        };
        verdict(u"内容页"_s, link.asContent);
        verdict(u"列表页"_s, link.asList);
    }
    return out;
}

QJsonObject explanationJson(const PageTrace &trace)
{
    QJsonArray records;
    for (const RecordTrace &record : trace.records) {
        QJsonArray fields;
        for (const FieldTrace &field : record.fields) {
            QJsonArray markers;
            for (const MarkerTrace &marker : field.markers) {
                markers.append(QJsonObject{{u"role"_s, marker.role},
                                           {u"marker"_s, marker.marker},
                                           {u"found"_s, marker.position > 0},
                                           {u"position"_s, marker.position},
                                           {u"line"_s, marker.line},
                                           {u"column"_s, marker.column}});
            }
            QJsonArray steps;
            for (const AlistStep &step : field.alistSteps) {
                steps.append(QJsonObject{{u"step"_s, step.step},
                                         {u"detail"_s, step.detail},
                                         {u"value"_s, step.value},
                                         {u"failed"_s, step.failed}});
            }
            QJsonObject object{{u"kind"_s, kindKey(field.kind)},
                               {u"number"_s, field.number},
                               {u"spec"_s, field.spec},
                               {u"markers"_s, markers},
                               {u"cut"_s, field.cut},
                               {u"alist"_s, field.alist},
                               {u"alistSteps"_s, steps},
                               {u"value"_s, field.value},
                               {u"problem"_s, field.problem}};
            if (!field.patternError.isEmpty())
                object.insert(u"patternError"_s, field.patternError);
            if (!field.linkLevel.isEmpty())
                object.insert(u"linkLevel"_s, field.linkLevel);
            fields.append(object);
        }
        records.append(QJsonObject{{u"block"_s, record.block},
                                   {u"outcome"_s, outcomeKey(record.outcome)},
                                   {u"line"_s, record.line},
                                   {u"reason"_s, record.reason},
                                   {u"fields"_s, fields}});
    }
    return QJsonObject{{u"url"_s, trace.url},
                       {u"level"_s, trace.level},
                       {u"fetch"_s, trace.fetch},
                       {u"bytes"_s, trace.bytes},
                       {u"charset"_s, trace.charset},
                       {u"charsetReason"_s, trace.charsetReason},
                       {u"mode"_s, trace.mode},
                       {u"firstProblem"_s, trace.firstProblem()},
                       {u"yielded"_s, trace.yieldedSomething()},
                       {u"problems"_s, QJsonArray::fromStringList(trace.problems)},
                       {u"records"_s, records}};
}

} // namespace caiji
