// The NTFS parser's Advanced mode: MFT candidates found by search, then the walk from the first.
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    salvage::fuzz::runVolume(data, size, u"NTFS", salvage::RecoveryMode::Advanced);
    return 0;
}
