// The exFAT parser's Standard mode: boot region, FAT chains and unchained folders, entry sets, saves.
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    salvage::fuzz::runVolume(data, size, u"FAT64", salvage::RecoveryMode::Standard);
    return 0;
}
