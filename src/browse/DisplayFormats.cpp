#include "browse/DisplayFormats.h"

#include "platform/Text.h"

namespace salvage {

std::u16string formatListTime(const LocalTime& t) {
    std::u16string s = t.hour > 12 ? format16("%02d/%02d/%d  %02d:%02d PM", t.month, t.day, t.year, t.hour - 12, t.minute)
                                   : format16("%02d/%02d/%d  %02d:%02d AM", t.month, t.day, t.year, t.hour, t.minute);
    if (s.size() > 255) s.resize(255);
    return s;
}

std::u16string formatListTime(UnixNanos t) { return formatListTime(toLocalTime(t)); }

std::u16string formatListSize(std::uint64_t bytes) {
    double b = double(bytes);
    double g = b / 1073741824.0, m = b / 1048576.0, k = b / 1024.0;
    if (g >= 1) return format16("%.2f GB", g);
    if (m >= 1) return format16("%.2f MB", m);
    if (k >= 1) return format16("%.2f KB", k);
    return format16("%lld Bytes", (long long)bytes);
}

}  // namespace salvage
