#pragma once

#include <QString>
#include <QStringList>

// The window's help page (rich text): the mouse gestures on the plots, the menus, and every
// statement of the structure file with its arguments.
QString helpText();
