#include "tasks/collectsettings.h"

#include "tasks/networksettings.h"

#include <QSettings>

using namespace Qt::StringLiterals;

namespace caiji {

namespace {

const QString Group = u"collect"_s;

// "true", "yes", "on" and "1" and their opposites, as people write them.
std::optional<bool> switchOf(const QString &text)
{
    const QString value = text.trimmed().toLower();
    if (value == u"true" || value == u"yes" || value == u"on" || value == u"1")
        return true;
    if (value == u"false" || value == u"no" || value == u"off" || value == u"0" || value.isEmpty())
        return false;
    return std::nullopt;
}

} // namespace

std::optional<CollectSettings> CollectSettings::read(const QString &dataDir, QString *error)
{
    QSettings file(NetworkSettings::fileIn(dataDir), QSettings::IniFormat);
    file.beginGroup(Group);
    CollectSettings settings;
    const QString onlyNew = file.value(u"onlyNew"_s).toString();
    const std::optional<bool> on = switchOf(onlyNew);
    if (!on) {
        *error = u"onlyNew=%1：应是true或false"_s.arg(onlyNew);
        return std::nullopt;
    }
    settings.onlyNew = *on;
    if (file.contains(u"stopAfterKnown"_s)) {
        const QString written = file.value(u"stopAfterKnown"_s).toString();
        bool ok = false;
        settings.stopAfterKnown = written.trimmed().toInt(&ok);
        if (!ok || settings.stopAfterKnown < 0 || settings.stopAfterKnown > MaxStopAfterKnown) {
            *error =
                u"stopAfterKnown=%1：应是0到%2之间的整数"_s.arg(written).arg(MaxStopAfterKnown);
            return std::nullopt;
        }
    }
    return settings;
}

bool CollectSettings::write(const QString &dataDir) const
{
    QSettings file(NetworkSettings::fileIn(dataDir), QSettings::IniFormat);
    file.beginGroup(Group);
    if (onlyNew)
        file.setValue(u"onlyNew"_s, true);
    else
        file.remove(u"onlyNew"_s);
    if (stopAfterKnown > 0)
        file.setValue(u"stopAfterKnown"_s, stopAfterKnown);
    else
        file.remove(u"stopAfterKnown"_s);
    file.endGroup();
    file.sync();
    return file.status() == QSettings::NoError;
}

} // namespace caiji
