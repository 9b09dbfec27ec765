#include "engine/pagestash.h"

#include <QDir>

namespace caiji {

void PageStash::clear()
{
    m_places.clear();
    m_kept = 0;
    m_end = 0;
    if (m_file)
        m_file->resize(0);
}

void PageStash::expect(const QString &url)
{
    if (!m_places.contains(url))
        m_places.insert(url, Place());
}

bool PageStash::ensureFile()
{
    if (m_file)
        return true;
    auto file =
        std::make_unique<QTemporaryFile>(QDir::tempPath() + QStringLiteral("/caiji-pages-XXXXXX"));
    if (!file->open())
        return false;
    m_file = std::move(file);
    return true;
}

void PageStash::offer(const QString &url, const QByteArray &page)
{
    const auto it = m_places.find(url);
    if (it == m_places.end() || it->offset >= 0 || page.isEmpty() ||
        m_end + page.size() > m_budget || !ensureFile())
        return;
    // A failed write keeps nothing: the crawler then fetches the page itself.
    if (!m_file->seek(m_end) || m_file->write(page) != page.size())
        return;
    *it = {m_end, page.size()};
    m_end += page.size();
    ++m_kept;
}

std::optional<QByteArray> PageStash::take(const QString &url)
{
    const auto it = m_places.find(url);
    if (it == m_places.end())
        return std::nullopt;
    const Place place = *it;
    forget(it);
    if (place.offset < 0 || !m_file->flush() || !m_file->seek(place.offset))
        return std::nullopt;
    QByteArray page = m_file->read(place.size);
    if (page.size() != place.size)
        return std::nullopt;
    return page;
}

void PageStash::forget(QHash<QString, Place>::iterator it)
{
    if (it->offset >= 0)
        --m_kept;
    m_places.erase(it);
    // Nothing left to read: the file's space is used again from the start.
    if (m_kept == 0)
        m_end = 0;
}

} // namespace caiji
