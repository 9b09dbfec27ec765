// The toolbar's and the window's icons: the desktop's icon theme first, by
// their freedesktop names, else the copies built into the program (a few
// Tango icons and the program's own), so every button has a picture.
#pragma once

#include <QIcon>
#include <QString>

namespace caiji {

// The theme's icon `name`, else the built-in Tango icon `bundled`.
QIcon themedIcon(const QString &name, const QString &bundled);

// The program's icon: the installed one, else the built-in copy.
QIcon programIcon();

} // namespace caiji
