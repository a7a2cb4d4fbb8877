#pragma once
// DOS date/time fields as FAT and exFAT store them. The stored local time is
// taken as UTC, the way the saved files and the list show it.
#include <cstdint>
#include <optional>

#include "platform/FileTimes.h"

namespace salvage::fat {

// A DOS date (bits 15-9 year since 1980, 8-5 month, 4-0 day) and time (15-11
// hour, 10-5 minute, 4-0 two-second units). Empty when the date names no
// real day (month or day 0, month above 12), as a DOS conversion would refuse it.
std::optional<UnixNanos> dosToUnixNanos(std::uint16_t date, std::uint16_t time);

}  // namespace salvage::fat
