// Small drawn icons for the toolbar and the tray: a coloured tile with one
// character, so the program needs no icon theme or image files.
#pragma once

#include <QIcon>
#include <QString>

namespace caiji {

QIcon toolbarIcon(const QString &glyph, int colourIndex);

} // namespace caiji
