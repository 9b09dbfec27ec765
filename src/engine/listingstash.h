// The link listings of pages the collector fetched whose addresses also wait
// in the list queue. In a whole-site task most pages are both, and the
// collector reaches them long before the crawler does, often most of the site
// ahead; keeping their listings in temporary files until then asks the site
// for each such page once. Memory holds the index only.
#pragma once

#include <QHash>
#include <QString>
#include <QTemporaryFile>
#include <memory>
#include <optional>
#include <vector>

namespace caiji {

class ListingStash
{
public:
    // Listings go into segment files; a segment is written again once every
    // listing in it was taken. They are taken in about the order they came,
    // so few segments are in use at a time. Beyond the last nothing is kept.
    static constexpr qint64 DefaultSegmentSize = qint64(8) << 20;
    static constexpr int DefaultSegments = 32;

    // A larger page is left for the crawler to fetch: listing it while the
    // collector's transfers are in flight would add to the peak memory.
    static constexpr qsizetype LargestPage = 1 << 20;

    explicit ListingStash(qint64 segmentSize = DefaultSegmentSize, int segments = DefaultSegments)
        : m_segmentSize(segmentSize), m_maxSegments(segments)
    {
    }

    // A new run: every address and listing is forgotten.
    void clear();
    // The crawler will read `url` as a list page.
    void expect(const QString &url);
    // True while `url` is expected, has no listing yet and one could be kept:
    // only then is one worth making.
    bool wants(const QString &url) const;
    // Keeps `listing` for `url` when wanted and while there is room.
    void offer(const QString &url, const QString &listing);
    // The kept listing of `url`, once; `url` is no longer expected after this.
    std::optional<QString> take(const QString &url);

    qsizetype listingsKept() const { return m_kept; }

private:
    struct Place
    {
        int segment = -1; // -1: expected, no listing yet
        qint64 offset = 0;
        qint64 size = 0;
    };
    struct Segment
    {
        std::unique_ptr<QTemporaryFile> file;
        qint64 end = 0;
        int listings = 0;
    };
    bool hasRoom() const;
    // A segment whose listings were all taken, or -1.
    int emptySegment() const;
    // A segment with room for `size` bytes, or -1.
    int segmentFor(qint64 size);

    qint64 m_segmentSize;
    int m_maxSegments;
    QHash<QString, Place> m_places;
    std::vector<Segment> m_segments;
    int m_current = -1;
    qsizetype m_kept = 0;
};

} // namespace caiji
