// The FAT32 parser's Advanced mode: FAT copies and directory entries found by search.
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    salvage::fuzz::runVolume(data, size, u"FAT32", salvage::RecoveryMode::Advanced);
    return 0;
}
