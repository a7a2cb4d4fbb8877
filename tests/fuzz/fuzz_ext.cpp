// The ext2/3/4 parser: superblock search, descriptors, inode tables, block maps and extent trees, saves.
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    salvage::fuzz::runVolume(data, size, u"extX", salvage::RecoveryMode::Standard);
    return 0;
}
