#include "ui/FileIcons.h"

#include <QFileIconProvider>
#include <QHash>
#include <QMimeDatabase>

namespace salvage::ui {

QIcon folderIcon() {
    static const QIcon icon = QFileIconProvider().icon(QFileIconProvider::Folder);
    return icon;
}

QIcon iconForFileName(const QString& name) {
    // One lookup per suffix: a folder of thousands of ".jpg" files asks once.
    static QHash<QString, QIcon> cache;
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString suffix = dot > 0 ? name.mid(dot + 1).toLower() : QString();
    auto it = cache.constFind(suffix);
    if (it != cache.constEnd()) return *it;

    static const QMimeDatabase db;
    const QMimeType type = db.mimeTypeForFile(name, QMimeDatabase::MatchExtension);
    QIcon icon = QIcon::fromTheme(type.iconName());
    if (icon.isNull()) icon = QIcon::fromTheme(type.genericIconName());
    if (icon.isNull()) icon = QFileIconProvider().icon(QFileIconProvider::File);
    cache.insert(suffix, icon);
    return icon;
}

}  // namespace salvage::ui
