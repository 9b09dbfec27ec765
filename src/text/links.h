// Pattern lists ("^"-separated plain substrings) and the link rules of the
// crawler: which links stay on the start page's site and their canonical form.
#pragma once

#include <QString>
#include <QStringList>

namespace caiji {

// Pattern engine. Kind 1 replaces pairs, 2 deletes items, 3 tests "contains
// all", 4 "contains none", 5 "contains any". Tests return "w" for a pass and
// the empty string for a failure; an empty list never rejects. Any other kind
// returns the empty string.
QString hx(int hxt, const QString &hxs1, const QString &hxss);

// A pattern list split once, for testing many texts against it: hx's kinds 3
// to 5 give the same verdicts.
class PatternList
{
public:
    explicit PatternList(const QString &hxss = QString());
    bool passes(int hxt, const QString &hxs1) const;
    // The item that made a test of kind 3 (the first one missing) or 4 (the
    // first one present) fail; empty otherwise.
    QString decidingItem(int hxt, const QString &hxs1) const;

private:
    QStringList m_items; // none: nothing is rejected
};

// Site key of an absolute URL: the host (with port) after "://", without its
// first label when it has three or more labels.
QString hpkey(const QString &hds1);

// A link found on a list page in canonical form (no fragment, at most three
// trailing slashes removed), or the empty string when it leaves the site of
// `startAddress` or names a file that is not a page.
QString hp(const QString &hds1, const QString &startAddress);

// hp for many links of one start address: the site key made once.
class SiteLinks
{
public:
    explicit SiteLinks(const QString &startAddress);
    QString canonical(const QString &hds1) const;

private:
    QString m_key; // lower case
};

} // namespace caiji
