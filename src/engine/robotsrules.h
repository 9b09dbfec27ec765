// A site's robots.txt as it applies to this program: the group that names
// our agent, else the group for every agent ("*"). The longest matching rule
// decides, Allow winning a tie; "*" in a rule stands for any characters and a
// final "$" for the end of the address.
#pragma once

#include <QByteArray>
#include <QList>

namespace caiji {

class RobotsRules
{
public:
    // Everything is allowed: no robots.txt, or one that could not be read.
    RobotsRules() = default;
    // `agent` is our product token ("caiji"), compared without regard to case.
    RobotsRules(const QByteArray &robotsTxt, const QByteArray &agent);

    // `path` is an address's path and query as sent ("/a/b.html?x=1").
    bool allows(const QByteArray &path) const;

private:
    struct Rule
    {
        QByteArray pattern;
        bool allow = false;
    };
    static bool matches(const QByteArray &pattern, const QByteArray &path);

    QList<Rule> m_rules;
};

} // namespace caiji
