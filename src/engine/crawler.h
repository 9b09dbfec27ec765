// The list-page crawler of scheme two: hands list pages to two fetch slots
// and queues the links of each arrived page as further list pages or as
// content pages, within the start page's site and the content maximum.
#pragma once

#include <QByteArray>
#include <QString>

namespace caiji {

class Fetcher;
struct EngineState;

class Crawler
{
public:
    static constexpr int Slots = 2;

    Crawler(EngineState &state, Fetcher &fetcher);

    void tick();
    // `reason` says why nothing was stored when `count` is negative; `body`
    // holds the page when it was kept in memory (else it is read from `file`).
    void fetchDone(int index, const QString &url, const QString &file, qint64 count,
                   const QString &reason, const QByteArray &body = QByteArray(),
                   const QByteArray &charset = QByteArray());

private:
    void queueLinks(const QString &listing);
    // Only what is new: counts the stored content links met in a row, and
    // closes the list pages when there are enough.
    void noteContentLink(const QString &link);
    // Frees slot `index` on its fourth tick and counts the list page.
    void pageDone(int index);
    bool belowMaximum() const;

    EngineState &m_state;
    Fetcher &m_fetcher;
};

} // namespace caiji
