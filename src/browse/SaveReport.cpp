#include "browse/SaveReport.h"

#include <ctime>
#include <fstream>
#include <nlohmann/json.hpp>

#include "platform/Text.h"

namespace salvage {

namespace {
namespace fs = std::filesystem;

std::string statusOf(const SavedFile& s) { return s.skipped ? "skipped" : s.ok ? "ok" : "failed"; }

std::string relativeText(const fs::path& p, const fs::path& base) {
    if (p.empty()) return {};
    return p.lexically_relative(base).generic_string();
}

// RFC 4180: quoted when it holds a comma, quote or line break.
std::string csvField(const std::string& s) {
    if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
    std::string q = "\"";
    for (char c : s) {
        if (c == '"') q += '"';
        q += c;
    }
    return q + "\"";
}
}  // namespace

std::string isoTime(const std::optional<UnixNanos>& t) {
    if (!t) return {};
    std::int64_t secs = *t / 1000000000, nanos = *t % 1000000000;
    if (nanos < 0) {
        nanos += 1000000000;
        --secs;
    }
    std::time_t tt = std::time_t(secs);
    std::tm tm{};
    if (!gmtime_r(&tt, &tm)) return {};
    return formatNarrow("%04d-%02d-%02dT%02d:%02d:%02d.%09lldZ", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                        tm.tm_hour, tm.tm_min, tm.tm_sec, (long long)nanos);
}

bool writeSaveReportCsv(const fs::path& file, const fs::path& outDir, const std::vector<SavedFile>& saved) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out << "path,saved_as,record,deleted,size,md5,sha256,created,accessed,modified,status\r\n";
    for (const auto& s : saved) {
        out << csvField(toUtf8(s.volumePath)) << ',' << csvField(relativeText(s.written, outDir)) << ','
            << s.recordNumber << ',' << (s.deleted ? "yes" : "no") << ',' << s.bytes << ',' << s.md5 << ','
            << s.sha256 << ',' << isoTime(s.times.creation) << ',' << isoTime(s.times.access) << ','
            << isoTime(s.times.modification) << ',' << statusOf(s) << "\r\n";
    }
    return bool(out.flush());
}

bool writeSaveReportJson(const fs::path& file, const fs::path& outDir, const std::vector<SavedFile>& saved) {
    nlohmann::json arr = nlohmann::json::array();
    auto timeOrNull = [](const std::optional<UnixNanos>& t) {
        return t ? nlohmann::json(isoTime(t)) : nlohmann::json(nullptr);
    };
    for (const auto& s : saved) {
        arr.push_back({{"path", toUtf8(s.volumePath)},
                       {"saved_as", relativeText(s.written, outDir)},
                       {"record", s.recordNumber},
                       {"deleted", s.deleted},
                       {"size", s.bytes},
                       {"md5", s.md5},
                       {"sha256", s.sha256},
                       {"created", timeOrNull(s.times.creation)},
                       {"accessed", timeOrNull(s.times.access)},
                       {"modified", timeOrNull(s.times.modification)},
                       {"status", statusOf(s)}});
    }
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    // Names from an image need not be valid UTF-8 after conversion; replace, never throw.
    out << arr.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    return bool(out.flush());
}

}  // namespace salvage
