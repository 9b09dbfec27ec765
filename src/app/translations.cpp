#include "app/translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>

using namespace Qt::StringLiterals;

namespace caiji {

namespace {

// The program's translations, compiled into it at build time.
const QString ProgramDirectory = u":/i18n"_s;

// "zh_CN.UTF-8@mod" → "zh_CN"; C and POSIX become empty.
QString localeName(QString name)
{
    name = name.section(u'.', 0, 0).section(u'@', 0, 0);
    return name == u"C" || name == u"POSIX" ? QString() : name;
}

} // namespace

QLocale Translations::messagesLocale(const QProcessEnvironment &environment)
{
    QString name;
    for (const QString &variable : {u"LC_ALL"_s, u"LC_MESSAGES"_s, u"LANG"_s}) {
        name = environment.value(variable);
        if (!name.isEmpty())
            break;
    }
    name = localeName(name);
    if (name.isEmpty())
        return QLocale::c();
    const QString preferred = localeName(environment.value(u"LANGUAGE"_s).section(u':', 0, 0));
    return QLocale(preferred.isEmpty() ? name : preferred);
}

bool Translations::isChinese(const QLocale &locale)
{
    return locale.language() == QLocale::Chinese;
}

QLocale Translations::windowLocale(const QLocale &messages)
{
    // The build defines it when caiji_en.ts has no unfinished entry.
#ifdef CAIJI_WINDOW_ENGLISH_COMPLETE
    return messages;
#else
    return isChinese(messages) ? messages : QLocale(QLocale::Chinese, QLocale::China);
#endif
}

Translations::Translations(const QLocale &locale, const QString &qtDirectory)
{
    if (isChinese(locale)) {
        // One Chinese translation of the program; Qt has one per script.
        install(QLocale(QLocale::Chinese, QLocale::China), u"caiji"_s, ProgramDirectory);
        const QString directory = qtDirectory.isEmpty()
                                      ? QLibraryInfo::path(QLibraryInfo::TranslationsPath)
                                      : qtDirectory;
        if (!install(locale, u"qtbase"_s, directory)) {
            const bool traditional = locale.script() == QLocale::TraditionalChineseScript;
            install(traditional ? QLocale(QLocale::Chinese, QLocale::Taiwan)
                                : QLocale(QLocale::Chinese, QLocale::China),
                    u"qtbase"_s, directory);
        }
        return;
    }
    // The window's texts are Chinese in the source; English is their translation.
    if (!install(locale, u"caiji"_s, ProgramDirectory))
        install(QLocale(QLocale::English), u"caiji"_s, ProgramDirectory);
}

Translations::~Translations() = default;

bool Translations::install(const QLocale &locale, const QString &name, const QString &directory)
{
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(locale, name, u"_"_s, directory) ||
        !QCoreApplication::installTranslator(translator.get()))
        return false;
    m_translators.push_back(std::move(translator));
    return true;
}

QStringList Translations::files() const
{
    QStringList files;
    for (const auto &translator : m_translators)
        files << translator->filePath();
    return files;
}

} // namespace caiji
