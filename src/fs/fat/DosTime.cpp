#include "fs/fat/DosTime.h"

namespace salvage::fat {

namespace {
// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + std::int64_t(doe) - 719468;
}
}  // namespace

std::optional<UnixNanos> dosToUnixNanos(std::uint16_t date, std::uint16_t time) {
    const unsigned day = date & 0x1F, month = (date >> 5) & 0x0F, year = 1980 + (date >> 9);
    if (day == 0 || month == 0 || month > 12) return std::nullopt;
    const unsigned sec = (time & 0x1F) * 2, minute = (time >> 5) & 0x3F, hour = time >> 11;
    if (hour > 23 || minute > 59 || sec > 59) return std::nullopt;
    const std::int64_t days = daysFromCivil(year, month, day);
    const std::int64_t seconds = days * 86400 + hour * 3600 + minute * 60 + sec;
    return seconds * 1'000'000'000LL;
}

}  // namespace salvage::fat
