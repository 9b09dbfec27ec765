// Pages the collector fetched whose addresses also wait in the list queue.
// In a whole-site task most pages are both, and the collector reaches them
// long before the crawler does; keeping their bytes in a temporary file until
// then asks the site for each such page once. Memory holds the index only.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QTemporaryFile>
#include <memory>
#include <optional>

namespace caiji {

class PageStash
{
public:
    // The file never grows past this; pages offered beyond it are not kept.
    static constexpr qint64 DefaultBudget = qint64(256) << 20;

    explicit PageStash(qint64 budget = DefaultBudget) : m_budget(budget) {}

    // A new run: every address and page is forgotten.
    void clear();
    // The crawler will read `url` as a list page.
    void expect(const QString &url);
    // Keeps `page` for `url` when that address is expected and has no page yet.
    void offer(const QString &url, const QByteArray &page);
    // The kept page of `url`, once; `url` is no longer expected after this.
    std::optional<QByteArray> take(const QString &url);

    qsizetype pagesKept() const { return m_kept; }

private:
    struct Place
    {
        qint64 offset = -1; // -1: expected, no page yet
        qint64 size = 0;
    };
    bool ensureFile();
    void forget(QHash<QString, Place>::iterator it);

    qint64 m_budget;
    QHash<QString, Place> m_places;
    std::unique_ptr<QTemporaryFile> m_file;
    qint64 m_end = 0;
    qsizetype m_kept = 0;
};

} // namespace caiji
