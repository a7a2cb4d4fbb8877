// The FAT12 parser's Standard mode: boot sector, 12-bit FAT chains, directories, saves.
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    salvage::fuzz::runVolume(data, size, u"FAT12", salvage::RecoveryMode::Standard);
    return 0;
}
