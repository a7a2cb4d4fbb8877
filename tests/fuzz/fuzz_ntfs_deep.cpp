// The NTFS parser's Deep mode: every MFT record found anywhere in the volume.
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    salvage::fuzz::runVolume(data, size, u"NTFS", salvage::RecoveryMode::Deep);
    return 0;
}
