#pragma once
#include <QCoreApplication>
#include <QIcon>
#include <QString>
#include <QStringList>

// The program's own files (its sounds, its help pages) lie beside the program,
// so a copy works from any directory: in a build tree in <program dir>/<kind>,
// installed in <program dir>/../share/wstoolbox/<kind>.
namespace ui::programfiles {

// Where files of `kind` ("sounds", "help") are looked for, in order.
QStringList directories(const QString& kind, const QString& programDir);

// The file `name` of `kind`: the name as given when it exists (a name without a
// directory from the current directory, where the person's own files win), else
// from the first of the directories that has it, compared without case when the
// exact name is missing there (a name typed in lower case). Empty when none has it.
QString find(const QString& kind, const QString& name,
             const QString& programDir = QCoreApplication::applicationDirPath());

// The first directory of `kind` that holds `file`; empty when none does.
QString directoryWith(const QString& kind, const QString& file,
                      const QString& programDir = QCoreApplication::applicationDirPath());

// The application's icon, drawn for it (an SVG inside the program).
QIcon appIcon();
// The same with an alert mark: the notification area shows it after a trap's hit.
QIcon alertIcon();

} // namespace ui::programfiles
