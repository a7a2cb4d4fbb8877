#include "fs/ntfs/Lznt1.h"

namespace salvage {

namespace {
// A stored chunk holds 4096 bytes; its size field says 4095.
constexpr std::size_t kStoredChunkField = 0x0FFF;
}  // namespace

Lznt1Result decompressLznt1(const std::uint8_t* in, std::size_t inLength, std::uint8_t* out,
                            std::size_t capacity) {
    Lznt1Result r;
    std::size_t i = 0, p = 0;
    while (i + 1 < inLength) {
        const std::uint16_t h = std::uint16_t(in[i] | (in[i + 1] << 8));
        const std::size_t size = h & 0x0FFF;
        if (h == 0) break;
        const std::size_t end = i + size + 3;  // header + size + 1 data bytes
        if (end > inLength) {
            r.error = true;
            break;
        }
        std::size_t pos = i + 2;
        const std::size_t chunkStart = p;
        if (!(h & 0x8000) && size == kStoredChunkField) {
            for (; pos < end; ++pos) {
                if (p >= capacity) { r.error = true; r.produced = p; return r; }
                out[p++] = in[pos];
            }
        } else {
            while (pos < end && !r.error) {
                const std::uint8_t flags = in[pos++];
                for (int bit = 0; bit < 8 && pos < end; ++bit) {
                    if (!(flags & (1 << bit))) {
                        if (p >= capacity) { r.error = true; break; }
                        out[p++] = in[pos++];
                        continue;
                    }
                    if (pos + 1 >= end) { r.error = true; break; }
                    const std::uint16_t t = std::uint16_t(in[pos] | (in[pos + 1] << 8));
                    pos += 2;
                    // The split between distance and length bits moves with
                    // the position inside the chunk.
                    int b = 0;
                    for (std::size_t v = p - chunkStart - 1; v >= 16 && p > chunkStart; v >>= 1) ++b;
                    const std::size_t distance = std::size_t(t >> (12 - b)) + 1;
                    const std::size_t length = std::size_t(t & (0x0FFF >> b)) + 3;
                    if (distance > p - chunkStart) { r.error = true; break; }
                    for (std::size_t k = 0; k < length; ++k) {
                        if (p >= capacity) { r.error = true; break; }
                        out[p] = out[p - distance];
                        ++p;
                    }
                    if (r.error) break;
                }
            }
            if (r.error) break;
        }
        i = end;
    }
    r.produced = p;
    return r;
}

}  // namespace salvage
