#include "engine/robotsrules.h"

namespace caiji {

namespace {

struct Group
{
    QList<QByteArray> agents;
    QList<std::pair<QByteArray, bool>> rules;
};

bool namesAgent(const QByteArray &value, const QByteArray &agent)
{
    const QByteArray name = value.toLower();
    return name == agent || name.startsWith(QByteArray(agent + '/'));
}

} // namespace

RobotsRules::RobotsRules(const QByteArray &robotsTxt, const QByteArray &agent)
{
    QList<Group> groups;
    bool inRules = true; // a user-agent line after rules starts a new group
    for (QByteArray line : robotsTxt.split('\n')) {
        if (const qsizetype hash = line.indexOf('#'); hash >= 0)
            line.truncate(hash);
        const qsizetype colon = line.indexOf(':');
        if (colon < 0)
            continue;
        const QByteArray key = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (key == "user-agent") {
            if (inRules)
                groups.append(Group());
            inRules = false;
            groups.last().agents << value;
        } else if ((key == "allow" || key == "disallow") && !groups.isEmpty()) {
            inRules = true;
            if (!value.isEmpty()) // "Disallow:" alone forbids nothing
                groups.last().rules.append({value, key == "allow"});
        }
    }
    const QByteArray ours = agent.toLower();
    for (const QByteArray &wanted : {ours, QByteArray("*")}) {
        for (const Group &group : std::as_const(groups)) {
            const bool named = std::any_of(
                group.agents.cbegin(), group.agents.cend(), [&](const QByteArray &value) {
                    return wanted == "*" ? value == "*" : namesAgent(value, wanted);
                });
            if (!named)
                continue;
            for (const auto &[pattern, allow] : group.rules)
                m_rules.append({pattern, allow});
        }
        if (!m_rules.isEmpty())
            return;
    }
}

bool RobotsRules::matches(const QByteArray &pattern, const QByteArray &path)
{
    const bool anchored = pattern.endsWith('$');
    const QByteArray body = anchored ? pattern.chopped(1) : pattern;
    // Wildcard matching with one remembered star: linear in practice.
    qsizetype p = 0, s = 0, star = -1, mark = 0;
    while (s < path.size()) {
        if (p < body.size() && body[p] == '*') {
            star = p++;
            mark = s;
        } else if (p < body.size() && body[p] == path[s]) {
            ++p;
            ++s;
        } else if (p == body.size() && !anchored) {
            return true; // a rule matches the start of the path
        } else if (star >= 0) {
            p = star + 1;
            s = ++mark;
        } else {
            return false;
        }
    }
    while (p < body.size() && body[p] == '*')
        ++p;
    return p == body.size();
}

bool RobotsRules::allows(const QByteArray &path) const
{
    qsizetype longest = -1;
    bool allowed = true;
    for (const Rule &rule : m_rules) {
        if (!matches(rule.pattern, path))
            continue;
        if (rule.pattern.size() > longest || (rule.pattern.size() == longest && rule.allow)) {
            longest = rule.pattern.size();
            allowed = rule.allow;
        }
    }
    return allowed;
}

} // namespace caiji
