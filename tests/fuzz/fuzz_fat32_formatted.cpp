// The FAT32 parser with "Is Drive Formated..?" set: chains end after one cluster, data read as consecutive clusters.
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    salvage::fuzz::runVolume(data, size, u"FAT32", salvage::RecoveryMode::Standard, true);
    return 0;
}
