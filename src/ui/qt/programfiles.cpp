#include "ui/qt/programfiles.h"

#include <QDir>
#include <QFileInfo>

// Resources of a static library are registered by hand: nothing else pulls the
// generated object into the program.
static void registerIcons() {
    Q_INIT_RESOURCE(icons);
}

namespace ui::programfiles {

QStringList directories(const QString& kind, const QString& programDir) {
    const QDir program(programDir);
    return {QDir::cleanPath(program.filePath(kind)),
            QDir::cleanPath(program.filePath(QStringLiteral("../share/wstoolbox/") + kind))};
}

QString find(const QString& kind, const QString& name, const QString& programDir) {
    if (name.isEmpty()) return {};
    const QFileInfo given(name);
    if (given.isFile()) return given.absoluteFilePath();
    if (given.isAbsolute() || name.contains(QLatin1Char('/'))) return {};
    for (const QString& directory : directories(kind, programDir)) {
        const QDir dir(directory);
        if (dir.exists(name)) return dir.absoluteFilePath(name);
        for (const QString& entry : dir.entryList(QDir::Files))
            if (entry.compare(name, Qt::CaseInsensitive) == 0) return dir.absoluteFilePath(entry);
    }
    return {};
}

QString directoryWith(const QString& kind, const QString& file, const QString& programDir) {
    for (const QString& directory : directories(kind, programDir))
        if (QFileInfo(QDir(directory).filePath(file)).isFile()) return directory;
    return {};
}

QIcon appIcon() {
    registerIcons();
    return QIcon(QStringLiteral(":/icons/wstoolbox.svg"));
}

QIcon alertIcon() {
    registerIcons();
    return QIcon(QStringLiteral(":/icons/wstoolbox-alert.svg"));
}

} // namespace ui::programfiles
