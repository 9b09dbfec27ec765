// Reading files as text: fetched pages (character set chosen from the page's
// declaration or its bytes) and task definition files.
#pragma once

#include <QByteArray>
#include <QString>

namespace caiji {

// The text of a fetched page: first read as GB18030; a "charset=gb2312",
// "charset=utf-8" or "charset=big" declaration in the first 500 characters,
// or else a sniff of the bytes, decides the final decoding. Empty when the
// file cannot be read or holds fewer than 10 characters.
QString readtext(const QString &path);

// The same reading of a page's bytes already in memory.
QString decodePage(const QByteArray &pageBytes);

// Task definition files come from Linux (UTF-8) and Chinese Windows systems
// (GB18030): UTF-8 when the bytes are valid UTF-8 (a BOM is dropped), else
// GB18030.
QString decodeTaskText(const QByteArray &bytes);

// The text of a task definition file, empty when it cannot be read.
QString readTaskText(const QString &path);

// The task's number of record fields: its "uc" entry as a 16-bit number, 0
// when the file cannot be read or the entry is not such a number.
qint16 getuc(const QString &hds1);

// The same, from the file's text.
qint16 fieldCountOf(const QString &taskText);

} // namespace caiji
