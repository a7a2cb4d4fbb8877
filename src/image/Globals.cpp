#include "image/Globals.h"

namespace salvage {
readWriteInterface* g_sectorSource = nullptr;
std::int64_t g_totalSectors = 0;
std::atomic<bool> g_driveFormatted{false};
ImageKind g_imageKind = ImageKind::None;
}  // namespace salvage
