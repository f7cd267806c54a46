#pragma once

#include <QString>
#include <QStringList>

// The window's help page (rich text): the mouse gestures on the plots, the menus, and every
// statement of the structure file with its arguments.
QString helpText();

// The folder of the bundled example structure files: share/xrdsim/examples beside the
// program's bin folder as installed, else the source tree's examples/ for a program run from
// its build tree; empty when neither holds one.
QString examplesFolder();

// The folders examplesFolder() looks in, in order, for a program in `binFolder`.
QStringList exampleFolderCandidates(const QString& binFolder);
