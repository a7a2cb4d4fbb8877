#pragma once
#include <QString>

namespace salvage::test {
// Walks through every page and saves a picture of the window on each into
// `dir`. Returns 0 when every page was reached.
int takeScreenshots(const QString& dir);
}  // namespace salvage::test
