// The languages the program speaks: its own messages and Qt's texts (buttons,
// context menus, the command-line parser's errors) follow the user's
// messages locale, Chinese under a zh locale and English otherwise. The
// window's texts are Chinese in the source: it speaks another language only
// where its translation into it is complete, and Qt's texts follow it.
#pragma once

#include <QLocale>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTranslator>

#include <memory>
#include <vector>

namespace caiji {

class Translations
{
public:
    // The locale messages follow, as gettext reads it: the first of LC_ALL,
    // LC_MESSAGES and LANG that is set, overridden by LANGUAGE's first entry
    // unless that locale is C; C when nothing is set.
    static QLocale messagesLocale(const QProcessEnvironment &environment);
    static bool isChinese(const QLocale &locale);
    // The locale the window's translations are installed for under the
    // messages locale `messages`: that one where the window's translation is
    // complete, else Chinese, the language of its source texts.
    static QLocale windowLocale(const QLocale &messages);

    // Installs the program's translation for `locale` and, for Chinese, Qt's
    // own from `qtDirectory` (Qt's translations folder when empty). The
    // translations are removed again when this object goes.
    explicit Translations(const QLocale &locale, const QString &qtDirectory = QString());
    ~Translations();
    Translations(const Translations &) = delete;
    Translations &operator=(const Translations &) = delete;

    // The files installed, program's first.
    QStringList files() const;

private:
    bool install(const QLocale &locale, const QString &name, const QString &directory);

    std::vector<std::unique_ptr<QTranslator>> m_translators;
};

} // namespace caiji
