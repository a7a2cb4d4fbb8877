#include "app/AppInfo.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include "platform/AppTitle.h"

namespace salvage::app {

QString appTitle() { return QString::fromUtf16(kAppTitle); }

QString aboutCaption() { return QStringLiteral("About ") + appTitle(); }

QString aboutText() {
    return QStringLiteral("<p><b>%1</b> %2</p>"
                          "<p>Recovers files from forensic disk images: EWF evidence files, raw images "
                          "and block devices, with NTFS, FAT, exFAT, ext and HFS+ volumes.</p>"
                          "<p>Images are only ever read, never written.</p>"
                          "<p><a href=\"%3\">%3</a></p>")
        .arg(appTitle(), QStringLiteral(SALVAGE_VERSION), QString::fromLatin1(kHomepage));
}

QUrl homepageUrl() { return QUrl(QString::fromLatin1(kHomepage)); }

QString plainTermTip(const QString& term) {
    const QString t = term.trimmed().toUpper();
    if (t == QLatin1String("FAT64")) return QStringLiteral("FAT64: an exFAT file system");
    if (t == QLatin1String("EXTX")) return QStringLiteral("%1: an ext2, ext3 or ext4 file system").arg(term.trimmed());
    if (t == QLatin1String("HFS+")) return QStringLiteral("HFS+: a Mac OS Extended file system");
    if (t == QLatin1String("RAW"))
        return QStringLiteral("RAW: no file system is read; the volume's sectors are searched for files by their "
                              "signatures");
    if (t == QLatin1String("UNKNOWN"))
        return QStringLiteral("%1: no known boot sector at the volume's start").arg(term.trimmed());
    return term;
}

QString manualPath() {
    const QString appDir = QCoreApplication::applicationDirPath();
    // Installed, or copied beside the program by the build; never read from
    // the source tree, which a user's machine does not have.
    const QString candidates[] = {
        appDir + QStringLiteral("/../share/doc/salvage/MANUAL.md"),
        appDir + QStringLiteral("/MANUAL.md"),
    };
    for (const QString& c : candidates) {
        QFileInfo info(c);
        if (info.isFile()) return info.canonicalFilePath();
    }
    return {};
}

}  // namespace salvage::app
