// Cuts one fetched content page into record lines or content-queue entries by
// the settings of its level section: page mode 1 (one record per page) or 2
// (record blocks inside a list region), marker, pattern, block and constant
// fields, a-lists, link fields and the length test.
#pragma once

#include "engine/pagetrace.h"
#include "tasks/taskfile.h"
#include "text/extract.h"
#include "text/foldscan.h"

#include <QString>
#include <QStringList>

namespace caiji {

struct CutResult
{
    QStringList records;      // record lines to store
    QStringList queueEntries; // "level|address|record line" for deeper pages and downloads
};

class PageCutter
{
public:
    // `w` is shared between pages: a section entry that cannot be cut keeps
    // the value the page before left in it.
    PageCutter(const TaskDefinition &definition, int fieldCount, WValues &w);

    // `page` is the page text as read; `level` and `prefix` come from the
    // queue entry that fetched it.
    // A page passed as a temporary is cut in place, without a copy.
    CutResult cut(QString page, const QString &url, int level, const QString &prefix);

    // With a trace, cut() also writes down every step there (the records,
    // queue entries and w values come out the same).
    void setTrace(PageTrace *trace) { m_trace = trace; }

private:
    struct Record
    {
        QString line;
        bool failed = false;
        bool hasLink = false;
        QString linkLevel;
        QString linkValue;
        RecordTrace trace; // filled only while tracing
    };

    void pageModeOne(const QString &url, const QString &prefix, CutResult &result);
    void pageModeTwo(CutResult &result);
    void markerField(int number, const QString &spec, Record &record);
    void fieldTail(QString value, const QString &level, const QString &alistNumber, Record &record,
                   FieldTrace *trace);
    // The trace of a new field of `record`, or nothing when not tracing.
    FieldTrace *traceField(Record &record, FieldTrace::Kind kind, int number, const QString &spec);
    void traceMarker(FieldTrace *trace, const QString &role, const QString &marker,
                     qsizetype position) const;
    void constantFields(Record &record);
    void finishRecord(const Record &record, bool lengthTest, CutResult &result);
    int countOf(const QString &text) const;
    // 1-based positions, letter case ignored: as searching a lower-cased copy.
    qsizetype find(qsizetype from, const foldscan::Needle &marker) const;
    qsizetype find(qsizetype from, QStringView marker) const;
    QString cutValue(qsizetype from, qsizetype limit, const QString &startMarker,
                     const QString &endMarker, FieldTrace *trace) const;

    const TaskDefinition &m_definition;
    int m_fieldCount;
    WValues &m_w;
    QString m_page;
    PageTrace *m_trace = nullptr;
    QString m_url;
};

} // namespace caiji
