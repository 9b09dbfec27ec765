// Field cutting: getw, getreg and geta with settings the input chooses
// ("page NUL pattern NUL a-list NUL section"), and a whole page cut by a fixed
// task at level 1 (page mode 1: marker, pattern and constant fields) and
// level 2 (page mode 2: blocks with a download field).
#include "engine/pagecutter.h"
#include "fuzzinput.h"
#include "tasks/taskfile.h"
#include "text/extract.h"
#include "text/readtext.h"

using namespace Qt::StringLiterals;
using namespace caiji;

namespace {

const QString TaskText = uR"(uc=[[6]]
<getm1>
w1=[[1]]w2=[[1]]w3=[[2]]
w4=[[<title>^</title>^<title>^</title>^-1^1|<div class="body">^</div>^">^</div>^-1^0]]
w5=[[2]]w6=[[src="\S+?"^-1^0|\d{4}-\d\d-\d\d^-1^3]]
w7=[[2]]w8=[[常量|const]]
<getm1>
<getm2>
w1=[[2]]w2=[[<body>]]w3=[[<a ]]w4=[[</a>]]w5=[[2]]
w6=[[href="^"^0^0|>^</a^-1^2]]
w7=[[1]]w8=[[列表]]
<getm2>
a1=[[1|【|】|第^第 |&nbsp;||<]]
a2=[[0|||  ^ |\r\n||script^javascript]]
a3=[[0|日期 ||-^/||2|]]
)"_s;

struct FixedTask
{
    TaskDefinition definition;
    int fieldCount = 0;

    FixedTask()
    {
        readTaskDefinition(TaskText, definition);
        fieldCount = fieldCountOf(TaskText);
    }
};

const QString PageUrl = u"http://www.example.com/news/list.htm"_s;
const QString Prefix = u"^http://www.example.com/"_s;

// Record lines are "^"-separated and queue entries "|"-separated, so a value
// that brought either separator along would shift every field after it.
void requireFields(const QString &line, qsizetype separators, const char *property)
{
    fuzz::require(line.count(u'^') == separators, property);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const FixedTask task;
    const QStringList args = fuzz::arguments(data, size, 4);
    const QString &page = args[0];

    WValues w;
    getw(args[3], w);
    for (const QString &value : w)
        fuzz::require(!value.contains(u"]]"), "a w value holds no \"]]\"");

    const QString match = getreg(args[1], page);
    fuzz::require(match.isEmpty() || page.contains(match), "a match is part of the page");
    geta(page, args[2]);

    PageCutter cutter(task.definition, task.fieldCount, w);
    // Level 1: prefix, address, two marker, two pattern and two constant fields.
    const CutResult one = cutter.cut(page, PageUrl, 1, Prefix);
    fuzz::require(one.queueEntries.isEmpty(), "level 1 has no link field");
    for (const QString &record : one.records)
        requireFields(record, 1 + 1 + 2 + 2 + 2, "a level-1 record has every field");

    // Level 2: one record per block, the download field queues it.
    const CutResult two = cutter.cut(page, PageUrl, 2, Prefix);
    fuzz::require(two.records.isEmpty(), "level 2 records wait for their download");
    for (const QString &entry : two.queueEntries) {
        const QStringList parts = entry.split(u'|');
        fuzz::require(parts.size() == 3, "a queue entry has level, address and record");
        requireFields(parts.value(2), 2 + 1, "a level-2 record has every field");
    }
    return 0;
}
