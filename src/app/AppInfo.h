#pragma once
// Fixed facts about the program that more than one page shows or uses.
#include <QString>
#include <QUrl>

namespace salvage::app {

// The program's own name: the caption of boxes that carry no caption of
// their own, and the name of the installed executable.
inline constexpr char kProgramName[] = "salvage-gui";
inline constexpr char kHomepage[] = "https://salvage-recovery.example.org/";
// Name of the single-instance lock in the user's runtime directory.
inline constexpr char kInstanceLockName[] = "salvage-gui-3f6c2a.lock";

QString appTitle();
QString aboutCaption();
QString aboutText();
QUrl homepageUrl();
// The user manual (MANUAL.md): installed under share/doc/salvage beside the
// program's bin folder, or copied beside the program by the build. Empty when
// neither exists.
QString manualPath();

// A plain explanation for a term of the volume list a user may not know
// ("FAT64" is exFAT, "extX" any of ext2/3/4, "RAW" the carving scan); the
// term itself when there is nothing to add.
QString plainTermTip(const QString& term);

}  // namespace salvage::app
