#include "tasks/publishsettings.h"

#include "records/serverdatabase.h"
#include "tasks/networksettings.h"

#include <QSettings>

using namespace Qt::StringLiterals;

namespace caiji {

namespace {

const QString Group = u"publish"_s;

} // namespace

std::optional<PublishSettings> PublishSettings::read(const QString &dataDir, QString *error)
{
    QSettings file(NetworkSettings::fileIn(dataDir), QSettings::IniFormat);
    file.beginGroup(Group);
    PublishSettings settings;
    settings.url = file.value(u"url"_s).toString().trimmed();
    settings.table = file.value(u"table"_s).toString().trimmed();
    QString why;
    if (settings.isOn() && !ServerAddress::parse(settings.url, &why)) {
        *error = u"url=%1：%2"_s.arg(settings.url, why);
        return std::nullopt;
    }
    return settings;
}

bool PublishSettings::write(const QString &dataDir) const
{
    QSettings file(NetworkSettings::fileIn(dataDir), QSettings::IniFormat);
    file.beginGroup(Group);
    if (url.isEmpty())
        file.remove(u"url"_s);
    else
        file.setValue(u"url"_s, url);
    if (table.isEmpty())
        file.remove(u"table"_s);
    else
        file.setValue(u"table"_s, table);
    file.endGroup();
    file.sync();
    return file.status() == QSettings::NoError;
}

} // namespace caiji
