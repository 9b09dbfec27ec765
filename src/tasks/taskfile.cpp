#include "tasks/taskfile.h"

#include "text/positions.h"

using namespace Qt::StringLiterals;

namespace caiji {

namespace {

QString entryMarker(const QString &key)
{
    return key + u"=[[";
}

std::optional<QString> valueFrom(const QString &text, qsizetype start)
{
    return cutBetween(text, start, instr(start, text, u"]]"));
}

} // namespace

std::optional<QString> entryValue(const QString &text, const QString &key)
{
    const QString marker = entryMarker(key);
    return valueFrom(text, instr(1, text, marker) + marker.size());
}

std::optional<QString> presentEntryValue(const QString &text, const QString &key)
{
    const QString marker = entryMarker(key);
    const qsizetype at = instr(1, text, marker);
    if (at == 0)
        return std::nullopt;
    return valueFrom(text, at + marker.size());
}

std::optional<QString> levelSection(const QString &text, int level)
{
    const QString marker = u"<getm" + QString::number(level) + u'>';
    const qsizetype at = instr(1, text, marker);
    if (at == 0)
        return std::nullopt;
    const qsizetype start = at + marker.size();
    return cutBetween(text, start, instr(start, text, marker));
}

std::optional<QString> alistEntry(const QString &text, int k)
{
    return presentEntryValue(text, u'a' + QString::number(k));
}

QStringList displaySpecs(const QString &text)
{
    QStringList specs;
    qsizetype pos = 1;
    while (specs.size() < MaxDisplaySpecs) {
        const qsizetype at = instr(pos, text, u"ds=[[");
        if (at == 0)
            break;
        const qsizetype start = at + 5;
        const qsizetype end = instr(start, text, u"]]");
        if (end == 0)
            break;
        specs.append(mid(text, start, end - start));
        pos = end;
    }
    return specs;
}

void readTaskDefinition(const QString &text, TaskDefinition &definition)
{
    if (const auto ur = entryValue(text, u"ur"_s))
        definition.schemeField = ur->split(u'|');
    for (int k = 1; k <= MaxLevel; ++k) {
        if (const auto section = levelSection(text, k))
            definition.section[k] = *section;
        if (const auto alist = alistEntry(text, k))
            definition.alist[k] = *alist;
    }
}

} // namespace caiji
