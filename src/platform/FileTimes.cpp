#include "platform/FileTimes.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <ctime>

namespace salvage {

namespace {
// Seconds between 1601-01-01 and 1970-01-01.
constexpr std::int64_t kEpochDelta1601 = 11644473600LL;
}

UnixNanos fileTimeToUnixNanos(std::uint64_t fileTime) {
    // Split to stay inside 64 bits for every FILETIME value.
    std::int64_t seconds = std::int64_t(fileTime / 10000000ULL) - kEpochDelta1601;
    std::int64_t rest = std::int64_t(fileTime % 10000000ULL) * 100;
    std::int64_t out;
    if (__builtin_mul_overflow(seconds, std::int64_t(1000000000), &out)) return seconds < 0 ? INT64_MIN : INT64_MAX;
    if (__builtin_add_overflow(out, rest, &out)) return INT64_MAX;
    return out;
}

std::uint64_t unixNanosToFileTime(UnixNanos t) {
    std::int64_t seconds = t / 1000000000LL;
    std::int64_t rest = t % 1000000000LL;
    if (rest < 0) {
        rest += 1000000000LL;
        --seconds;
    }
    return std::uint64_t(seconds + kEpochDelta1601) * 10000000ULL + std::uint64_t(rest / 100);
}

namespace {
void timeSpecs(std::optional<UnixNanos> access, std::optional<UnixNanos> modification, timespec (&times)[2]) {
    auto toSpec = [](std::optional<UnixNanos> t) {
        timespec ts{};
        if (!t) {
            ts.tv_nsec = UTIME_OMIT;
            return ts;
        }
        std::int64_t s = *t / 1000000000LL, ns = *t % 1000000000LL;
        if (ns < 0) {
            ns += 1000000000LL;
            --s;
        }
        ts.tv_sec = time_t(s);
        ts.tv_nsec = long(ns);
        return ts;
    };
    times[0] = toSpec(access);
    times[1] = toSpec(modification);
}
}  // namespace

bool setFileTimes(const std::filesystem::path& path, std::optional<UnixNanos> access,
                  std::optional<UnixNanos> modification) {
    timespec times[2];
    timeSpecs(access, modification, times);
    return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

bool setFileTimes(int fd, std::optional<UnixNanos> access, std::optional<UnixNanos> modification) {
    timespec times[2];
    timeSpecs(access, modification, times);
    return futimens(fd, times) == 0;
}

LocalTime toLocalTime(UnixNanos t) {
    std::int64_t s = t / 1000000000LL;
    if (t % 1000000000LL < 0) --s;
    time_t tt = time_t(s);
    std::tm tm{};
    LocalTime out;
    if (!localtime_r(&tt, &tm)) return out;
    out.year = tm.tm_year + 1900;
    out.month = tm.tm_mon + 1;
    out.day = tm.tm_mday;
    out.hour = tm.tm_hour;
    out.minute = tm.tm_min;
    out.second = tm.tm_sec;
    return out;
}

}  // namespace salvage
