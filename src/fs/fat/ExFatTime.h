#pragma once
// exFAT timestamps: a DOS date (high half) and time (low half) in local
// time, a 10 ms increment (0-199) and a UTC offset byte.
#include <cstdint>
#include <optional>

#include "platform/FileTimes.h"

namespace salvage::fat {

// The instant a timestamp names. The 10 ms increment adds up to 1.99 s. A
// UTC offset byte with bit 7 set holds the local time's offset from UTC in
// 15-minute steps (7-bit signed) and is taken off; without it the local
// time is taken as UTC, as for FAT. Empty when the date names no real day.
std::optional<UnixNanos> exFatToUnixNanos(std::uint32_t timestamp, std::uint8_t increment10ms,
                                          std::uint8_t utcOffset);

}  // namespace salvage::fat
