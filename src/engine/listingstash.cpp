#include "engine/listingstash.h"

#include <QDir>

#include <algorithm>

namespace caiji {

void ListingStash::clear()
{
    m_places.clear();
    m_kept = 0;
    m_current = -1;
    for (Segment &segment : m_segments) {
        segment.end = 0;
        segment.listings = 0;
        segment.file->resize(0);
    }
}

void ListingStash::expect(const QString &url)
{
    if (!m_places.contains(url))
        m_places.insert(url, Place());
}

int ListingStash::segmentFor(qint64 size)
{
    if (m_current >= 0 && m_segments[m_current].end + size <= m_segmentSize)
        return m_current;
    // Else an emptied or a new segment: there a listing larger than a segment
    // has one to itself.
    if (const int emptied = emptySegment(); emptied >= 0) {
        m_segments[emptied].end = 0;
        return m_current = emptied;
    }
    if (int(m_segments.size()) >= m_maxSegments)
        return -1;
    auto file = std::make_unique<QTemporaryFile>(QDir::tempPath() +
                                                 QStringLiteral("/caiji-listings-XXXXXX"));
    if (!file->open())
        return -1;
    m_segments.push_back({std::move(file), 0, 0});
    return m_current = int(m_segments.size()) - 1;
}

bool ListingStash::wants(const QString &url) const
{
    const auto it = m_places.constFind(url);
    return it != m_places.cend() && it->segment < 0 && hasRoom();
}

bool ListingStash::hasRoom() const
{
    if (m_current >= 0 && m_segments[m_current].end < m_segmentSize)
        return true;
    return int(m_segments.size()) < m_maxSegments || emptySegment() >= 0;
}

int ListingStash::emptySegment() const
{
    const auto it = std::find_if(m_segments.cbegin(), m_segments.cend(),
                                 [](const Segment &s) { return s.listings == 0; });
    return it == m_segments.cend() ? -1 : int(it - m_segments.cbegin());
}

void ListingStash::offer(const QString &url, const QString &listing)
{
    const auto it = m_places.find(url);
    if (it == m_places.end() || it->segment >= 0)
        return;
    const QByteArray bytes = listing.toUtf8();
    const int index = segmentFor(bytes.size());
    if (index < 0)
        return;
    Segment &segment = m_segments[index];
    // A failed write keeps nothing: the crawler then fetches the page itself.
    if (!segment.file->seek(segment.end) || segment.file->write(bytes) != bytes.size())
        return;
    *it = {index, segment.end, bytes.size()};
    segment.end += bytes.size();
    ++segment.listings;
    ++m_kept;
}

std::optional<QString> ListingStash::take(const QString &url)
{
    const auto it = m_places.find(url);
    if (it == m_places.end())
        return std::nullopt;
    const Place place = *it;
    m_places.erase(it);
    if (place.segment < 0)
        return std::nullopt;
    Segment &segment = m_segments[place.segment];
    --segment.listings;
    --m_kept;
    // seek() writes out what the file still buffers.
    if (!segment.file->seek(place.offset))
        return std::nullopt;
    const QByteArray bytes = segment.file->read(place.size);
    if (bytes.size() != place.size)
        return std::nullopt;
    return QString::fromUtf8(bytes);
}

} // namespace caiji
