// The FAT16 parser's Standard mode: boot sector, FAT chains, directories, saves.
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    salvage::fuzz::runVolume(data, size, u"FAT16", salvage::RecoveryMode::Standard);
    return 0;
}
