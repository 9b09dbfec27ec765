// What cutting one page did, step by step, for whoever writes the rules: the
// markers found and where, each value as cut and after its a-list, and what
// became of each record. The collector cuts without it; explanations cut the
// same way with it.
#pragma once

#include "text/extract.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace caiji {

struct MarkerTrace
{
    QString role; // 区域开始, 区域结束, 取值开始, 取值结束, 列表区开始, 块开始, 块结束
    QString marker;
    qsizetype position = 0; // 1-based character position; 0 when not found
    int line = 0;
    int column = 0;
};

struct FieldTrace
{
    enum class Kind { Address, Marker, Pattern, Block, Constant };
    Kind kind = Kind::Marker;
    int number = 0; // within its list, from 1
    QString spec;
    QList<MarkerTrace> markers;
    QString patternError; // an invalid pattern's reason
    QString cut;          // the value as cut from the page
    int alist = 0;        // the a-list number, 0 for none
    QList<AlistStep> alistSteps;
    QString value;     // as it went into the record
    QString linkLevel; // set for a link field
    QString problem;   // why the value came out empty or failed; empty when fine

    // "页面地址", or the kind and number ("标记字段2").
    QString name() const;
};

struct RecordTrace
{
    enum class Outcome { Stored, Queued, Dropped };
    int block = 0; // page mode 2: the record block, from 1
    QList<FieldTrace> fields;
    Outcome outcome = Outcome::Dropped;
    QString line;   // the record line, or the queue entry
    QString reason; // why it was dropped
};

struct PageTrace
{
    QString url;
    int level = 0;
    QString fetch; // "HTTP 200", or why nothing came
    qint64 bytes = -1;
    QString charset;       // the character set the page was read in
    QString charsetReason; // the declaration, the byte test or the default
    QString mode;          // w1 of the level's section
    QList<RecordTrace> records;
    QStringList problems; // about the page as a whole
    // The page of the next level a record led to, when it was fetched to see
    // that it can be: its address, level and how the fetch went.
    struct NextPage
    {
        QString url;
        int level = 0;
        QString fetch;
        bool fetched = false;
    };
    std::optional<NextPage> next;
    // The first page of a deeper level a record was queued for, if any.
    std::optional<NextPage> deeperPage() const;

    // What to fix first, in one line; empty when every field has a value and
    // every record was stored or queued.
    QString firstProblem() const;
    // Whether anything came of the page: a record stored or an entry queued.
    bool yieldedSomething() const;
};

// The 1-based line and column of a 1-based position in `text`.
void locate(QStringView text, qsizetype position, int *line, int *column);

} // namespace caiji
