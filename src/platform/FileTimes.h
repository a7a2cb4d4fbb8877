#pragma once
// Host time services: Windows FILETIME and DOS date/time conversions, setting
// a saved file's times, and the local-time breakdown used by the display
// formats.
#include <cstdint>
#include <filesystem>
#include <optional>

namespace salvage {

// A point in time as nanoseconds since 1970-01-01 UTC.
using UnixNanos = std::int64_t;

// 100-ns intervals since 1601-01-01 UTC.
UnixNanos fileTimeToUnixNanos(std::uint64_t fileTime);
std::uint64_t unixNanosToFileTime(UnixNanos t);

// Sets last access and last write time of a host file at full precision
// (Linux keeps no settable creation time). A missing value leaves that time
// unchanged. Returns false when the call fails.
bool setFileTimes(const std::filesystem::path& path, std::optional<UnixNanos> access,
                  std::optional<UnixNanos> modification);
// The same on an open file, so a writer can set them as its last step.
bool setFileTimes(int fd, std::optional<UnixNanos> access, std::optional<UnixNanos> modification);

struct LocalTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
// The time in the process time zone (tests pin TZ=UTC).
LocalTime toLocalTime(UnixNanos t);

}  // namespace salvage
