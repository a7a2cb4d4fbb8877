// The LZNT1 decompressor on its own: the first two bytes give the output
// capacity (so short and exact buffers are both tried), the rest is the
// compressed stream.
#include <cstdlib>
#include <vector>

#include "fs/ntfs/Lznt1.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    // Up to 64 KiB of output: a compression unit of 16 clusters of 4 KiB.
    const std::size_t capacity = std::size_t(data[0]) | std::size_t(data[1]) << 8;
    std::vector<std::uint8_t> out(capacity);
    const auto r = salvage::decompressLznt1(data + 2, size - 2, out.data(), capacity);
    if (r.produced > capacity) std::abort();
    return 0;
}
