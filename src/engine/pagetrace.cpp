#include "engine/pagetrace.h"

using namespace Qt::StringLiterals;

namespace caiji {

QString FieldTrace::name() const
{
    switch (kind) {
    case Kind::Address:
        return u"页面地址"_s;
    case Kind::Marker:
        return u"标记字段"_s + QString::number(number);
    case Kind::Pattern:
        return u"正则字段"_s + QString::number(number);
    case Kind::Block:
        return u"块字段"_s + QString::number(number);
    case Kind::Constant:
        return u"常量字段"_s + QString::number(number);
    }
    return {};
}

QString PageTrace::firstProblem() const
{
    if (!problems.isEmpty())
        return problems.first();
    for (const RecordTrace &record : records) {
        const QString where =
            record.block > 0 ? u"第"_s + QString::number(record.block) + u"块的"_s : QString();
        QString fieldProblem;
        bool required = false;
        for (const FieldTrace &field : record.fields) {
            if (!field.problem.isEmpty() && fieldProblem.isEmpty()) {
                fieldProblem = where + field.name() + u"：" + field.problem;
                required = field.alist > 0;
            }
        }
        // A required field names the cause itself; the length test is the
        // cause, with an empty field as the likely reason.
        if (record.outcome == RecordTrace::Outcome::Dropped && !required)
            return where + u"记录被丢弃："_s + record.reason +
                   (fieldProblem.isEmpty() ? QString() : u"；可能因为"_s + fieldProblem);
        if (!fieldProblem.isEmpty())
            return fieldProblem;
    }
    return {};
}

std::optional<PageTrace::NextPage> PageTrace::deeperPage() const
{
    for (const RecordTrace &record : records) {
        const int level = record.line.section(u'|', 0, 0).toInt();
        if (record.outcome == RecordTrace::Outcome::Queued && level >= 1)
            return NextPage{record.line.section(u'|', 1, 1), level, QString(), false};
    }
    return std::nullopt;
}

bool PageTrace::yieldedSomething() const
{
    return std::any_of(records.begin(), records.end(), [](const RecordTrace &record) {
        return record.outcome != RecordTrace::Outcome::Dropped;
    });
}

void locate(QStringView text, qsizetype position, int *line, int *column)
{
    const qsizetype end = std::clamp<qsizetype>(position - 1, 0, text.size());
    const QStringView before = text.first(end);
    *line = int(before.count(u'\n')) + 1;
    *column = int(end - (before.lastIndexOf(u'\n') + 1)) + 1;
}

} // namespace caiji
