// The NTFS parser's Standard mode: boot sector, MFT walk, records, tree, saves.
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    salvage::fuzz::runVolume(data, size, u"NTFS", salvage::RecoveryMode::Standard);
    return 0;
}
