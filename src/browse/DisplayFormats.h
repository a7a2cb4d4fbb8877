#pragma once
// The time and size texts every parser shows in the file list.
#include <cstdint>
#include <string>

#include "platform/FileTimes.h"

namespace salvage {

// "%02d/%02d/%d  %02d:%02d PM" when the hour is above 12 (hour - 12 shown),
// "... AM" otherwise, in local time.
std::u16string formatListTime(const LocalTime& t);
std::u16string formatListTime(UnixNanos t);
// "1.50 MB", "1.00 KB", "1023 Bytes".
std::u16string formatListSize(std::uint64_t bytes);

}  // namespace salvage
