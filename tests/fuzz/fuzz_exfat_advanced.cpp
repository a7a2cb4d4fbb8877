// The exFAT parser's Advanced mode: cluster heaps and entry sets found by search.
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    salvage::fuzz::runVolume(data, size, u"FAT64", salvage::RecoveryMode::Advanced);
    return 0;
}
