#include "fs/fat/ExFatTime.h"

#include "fs/fat/DosTime.h"

namespace salvage::fat {

std::optional<UnixNanos> exFatToUnixNanos(std::uint32_t timestamp, std::uint8_t increment10ms,
                                          std::uint8_t utcOffset) {
    auto t = dosToUnixNanos(std::uint16_t(timestamp >> 16), std::uint16_t(timestamp));
    if (!t) return t;
    if (increment10ms <= 199) *t += std::int64_t(increment10ms) * 10'000'000LL;
    if (utcOffset & 0x80) {
        // Seven-bit two's complement count of 15-minute steps.
        const int steps = (utcOffset & 0x40) ? int(utcOffset & 0x7F) - 128 : int(utcOffset & 0x7F);
        *t -= std::int64_t(steps) * 15 * 60 * 1'000'000'000LL;
    }
    return t;
}

}  // namespace salvage::fat
