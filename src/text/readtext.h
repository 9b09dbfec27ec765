// Reading files as text: fetched pages (character set chosen from the page's
// declaration or its bytes) and task definition files.
#pragma once

#include <QByteArray>
#include <QString>

namespace caiji {

// The text of a fetched page: first read as GB18030; a "charset=gb2312",
// "charset=utf-8" or "charset=big" declaration in the first 500 characters
// decides the final decoding; without one, a server's charset (for pages
// fetched), else UTF-8 when the bytes are valid UTF-8, else GB18030 or Big5
// as ICU's detector judges (GB18030 when unsure). Empty when the file cannot
// be read or holds fewer than 10 characters.
QString readtext(const QString &path);

// How a page's character set was chosen, for explanations.
struct PageCharset
{
    QString name;   // "UTF-8", "GB18030", "Big5"
    QString reason; // the declaration, the byte test or the default
};

// The same reading of a page's bytes already in memory; with `charset`, how
// the character set was chosen. `headerCharset` is the charset the server's
// Content-Type named (lower case), for a page that declares none itself.
QString decodePage(const QByteArray &pageBytes, PageCharset *charset = nullptr,
                   const QByteArray &headerCharset = QByteArray());

// decodePage(pageBytes).toUtf8(), without decoding and encoding again a page
// that is read as UTF-8 and already is.
QByteArray decodePageToUtf8(const QByteArray &pageBytes,
                            const QByteArray &headerCharset = QByteArray(),
                            PageCharset *charset = nullptr);

// Characters that could not be decoded (U+FFFD) in a page's text: a page
// read in the wrong character set.
qsizetype unreadableCharacters(QStringView text);

// Task definition files come from Linux (UTF-8) and Chinese Windows systems
// (GB18030, some Big5): UTF-8 when the bytes are valid UTF-8 (a BOM is
// dropped), else GB18030 or Big5 as for an undeclared page.
QString decodeTaskText(const QByteArray &bytes);

// The text of a task definition file, empty when it cannot be read.
QString readTaskText(const QString &path);

// The task's number of record fields: its "uc" entry as a 16-bit number, 0
// when the file cannot be read or the entry is not such a number.
qint16 getuc(const QString &hds1);

// The same, from the file's text.
qint16 fieldCountOf(const QString &taskText);

} // namespace caiji
