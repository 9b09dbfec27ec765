#include "text/foldscan.h"

#include "text/positions.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif
// x86-64 processors with AVX2 take sixteen positions a step, chosen at run time.
#if defined(__x86_64__) && defined(__GNUC__)
#define CAIJI_FOLDSCAN_AVX2
#include <immintrin.h>
#endif

#include <algorithm>

namespace caiji::foldscan {

std::optional<Probe> Probe::forLower(char16_t lower)
{
    if (lower >= 0x80 || lower == u'k' || lowerUnit(lower) != lower)
        return std::nullopt;
    const bool letter = lower >= u'a' && lower <= u'z';
    return Probe{lower, letter ? char16_t(0x20) : char16_t(0)};
}

namespace {

template <int Count>
qsizetype findAnyOf(const char16_t *text, qsizetype from, qsizetype size, const char16_t *units)
{
    qsizetype i = std::max<qsizetype>(from, 0);
#ifdef __SSE2__
    // Eight units a step; the scalar loop below finishes the last few.
    __m128i wanted[Count];
    for (int k = 0; k < Count; ++k)
        wanted[k] = _mm_set1_epi16(short(units[k]));
    for (; i + 8 <= size; i += 8) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(text + i));
        __m128i hit = _mm_cmpeq_epi16(block, wanted[0]);
        for (int k = 1; k < Count; ++k)
            hit = _mm_or_si128(hit, _mm_cmpeq_epi16(block, wanted[k]));
        if (const int mask = _mm_movemask_epi8(hit))
            return i + __builtin_ctz(unsigned(mask)) / 2;
    }
#endif
    for (; i < size; ++i) {
        for (int k = 0; k < Count; ++k) {
            if (text[i] == units[k])
                return i;
        }
    }
    return -1;
}

} // namespace

qsizetype findAnyUnit(const char16_t *text, qsizetype from, qsizetype size, const char16_t *units,
                      int count)
{
    switch (count) {
    case 1:
        return findAnyOf<1>(text, from, size, units);
    case 2:
        return findAnyOf<2>(text, from, size, units);
    case 3:
        return findAnyOf<3>(text, from, size, units);
    default:
        return findAnyOf<4>(text, from, size, units);
    }
}

Needle::Needle(QStringView marker) : m_lower(lowerSameLength(marker))
{
    // Units far apart rarely all fit at once where the marker is absent: the
    // last, the first and the middle one ("<div class=" then admits few of a
    // page's "<div"s, where its first three units admit every one).
    const qsizetype n = m_lower.size();
    const auto addFirstProbed = [this, n](qsizetype from, qsizetype step) {
        for (qsizetype i = from; i >= 0 && i < n; i += step) {
            if (const std::optional<Probe> probe = Probe::forLower(m_lower[i].unicode())) {
                if (std::none_of(m_filters.begin(), m_filters.begin() + m_filterCount,
                                 [i](const Filter &f) { return f.offset == i; }))
                    m_filters[m_filterCount++] = {i, *probe};
                return;
            }
        }
    };
    addFirstProbed(n - 1, -1);
    addFirstProbed(0, 1);
    addFirstProbed((n - 1) / 2, 1);
}

#ifdef __SSE2__
qsizetype Needle::candidateSse2(const char16_t *text, qsizetype at, qsizetype last) const
{
    __m128i units[3];
    __m128i masks[3];
    for (int k = 0; k < m_filterCount; ++k) {
        units[k] = _mm_set1_epi16(short(m_filters[k].probe.unit));
        masks[k] = _mm_set1_epi16(short(m_filters[k].probe.mask));
    }
    // Positions at..at+7 all lie at or before `last`, so every load stays in the text.
    for (; at + 7 <= last; at += 8) {
        __m128i hit = _mm_set1_epi16(-1);
        for (int k = 0; k < m_filterCount; ++k) {
            const __m128i block =
                _mm_loadu_si128(reinterpret_cast<const __m128i *>(text + at + m_filters[k].offset));
            hit = _mm_and_si128(hit, _mm_cmpeq_epi16(_mm_or_si128(block, masks[k]), units[k]));
        }
        if (const int mask = _mm_movemask_epi8(hit))
            return at + __builtin_ctz(unsigned(mask)) / 2;
    }
    return at;
}
#endif

#ifdef CAIJI_FOLDSCAN_AVX2
__attribute__((target("avx2"))) qsizetype Needle::candidateAvx2(const char16_t *text, qsizetype at,
                                                                qsizetype last) const
{
    __m256i units[3];
    __m256i masks[3];
    for (int k = 0; k < m_filterCount; ++k) {
        units[k] = _mm256_set1_epi16(short(m_filters[k].probe.unit));
        masks[k] = _mm256_set1_epi16(short(m_filters[k].probe.mask));
    }
    for (; at + 15 <= last; at += 16) {
        __m256i hit = _mm256_set1_epi16(-1);
        for (int k = 0; k < m_filterCount; ++k) {
            const __m256i block = _mm256_loadu_si256(
                reinterpret_cast<const __m256i *>(text + at + m_filters[k].offset));
            hit = _mm256_and_si256(hit,
                                   _mm256_cmpeq_epi16(_mm256_or_si256(block, masks[k]), units[k]));
        }
        if (const int mask = _mm256_movemask_epi8(hit))
            return at + __builtin_ctz(unsigned(mask)) / 2;
    }
    return at;
}
#endif

qsizetype Needle::nextCandidate(const char16_t *text, qsizetype at, qsizetype last) const
{
    // Whole blocks first; the scan stops at the first admitted position or
    // where fewer than a block's positions are left.
#ifdef CAIJI_FOLDSCAN_AVX2
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2)
        at = candidateAvx2(text, at, last);
#endif
#ifdef __SSE2__
    at = candidateSse2(text, at, last);
#endif
    for (; at <= last; ++at) {
        bool admitted = true;
        for (int k = 0; k < m_filterCount && admitted; ++k)
            admitted = m_filters[k].probe.admits(text[at + m_filters[k].offset]);
        if (admitted)
            return at;
    }
    return -1;
}

qsizetype Needle::findIn(const char16_t *text, qsizetype from, qsizetype size) const
{
    if (m_lower.isEmpty())
        return -1;
    // One unit without letter case ("<", ">", "&", ";"): a plain scan.
    if (m_lower.size() == 1 && m_filterCount == 1 && m_filters[0].probe.mask == 0)
        return findAnyUnit(text, from, size, &m_filters[0].probe.unit, 1);
    const qsizetype last = size - m_lower.size();
    qsizetype at = std::max<qsizetype>(from, 0);
    if (m_filterCount == 0) {
        // No unit the quick test can take (CJK, "k"): every position is compared.
        for (; at <= last; ++at) {
            if (matchesAt(text, at, size, m_lower))
                return at;
        }
        return -1;
    }
    for (; (at = nextCandidate(text, at, last)) >= 0; ++at) {
        if (matchesAt(text, at, size, m_lower))
            return at;
    }
    return -1;
}

} // namespace caiji::foldscan
