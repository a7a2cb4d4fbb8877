// The HFS+ parser's searched mode: catalog leaf nodes found anywhere in the volume.
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    salvage::fuzz::runVolume(data, size, u"HFS+", salvage::RecoveryMode::Deep);
    return 0;
}
