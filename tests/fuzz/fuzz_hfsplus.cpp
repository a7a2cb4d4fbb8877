// The HFS+ parser's Standard mode: volume header, catalog and extents overflow B-trees, saves.
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    salvage::fuzz::runVolume(data, size, u"HFS+", salvage::RecoveryMode::Standard);
    return 0;
}
