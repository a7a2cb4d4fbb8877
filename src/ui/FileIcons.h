#pragma once
// Icons for the browse tree: the folder icon and an icon per file name,
// looked up by the name alone (the file need not exist) through the MIME
// database and the desktop's icon theme, with the style's plain file icon
// when the theme has none.
#include <QIcon>
#include <QString>

namespace salvage::ui {

QIcon folderIcon();
QIcon iconForFileName(const QString& name);

}  // namespace salvage::ui
