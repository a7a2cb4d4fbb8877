#pragma once
// LZNT1, the compression of NTFS compression units: a stream of chunks,
// each with a 16-bit header (size - 3 in the low 12 bits, bit 15 set for a
// compressed chunk); a header of 0 ends the stream.
#include <cstddef>
#include <cstdint>

namespace salvage {

struct Lznt1Result {
    std::size_t produced = 0;
    bool error = false;
};

// Decompresses into output (at most capacity bytes). Errors (a chunk
// running past the input, a token cut off at the chunk end, a
// back-reference before the chunk's first byte, output overflow) end the
// stream; the bytes produced so far stay valid.
Lznt1Result decompressLznt1(const std::uint8_t* input, std::size_t inputLength, std::uint8_t* output,
                            std::size_t capacity);

}  // namespace salvage
