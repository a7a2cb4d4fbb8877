#include "browse/SaveReport.h"

#include <ctime>
#include <nlohmann/json.hpp>

#include "browse/OutputFolder.h"
#include "platform/Text.h"

namespace salvage {

namespace {
namespace fs = std::filesystem;

std::string relativeText(const fs::path& p, const fs::path& base) {
    if (p.empty()) return {};
    return p.lexically_relative(base).generic_string();
}

std::optional<fs::path> writeReport(const fs::path& file, const std::string& text) {
    OutputFolder folder;
    const fs::path dir = file.parent_path().empty() ? fs::path(".") : file.parent_path();
    if (!folder.open(dir)) return std::nullopt;
    return folder.writeWhole(folder.root(), file.filename().string(), text);
}
}  // namespace

std::string statusName(SaveStatus s) {
    switch (s) {
        case SaveStatus::Ok: return "ok";
        case SaveStatus::Damaged: return "damaged";
        case SaveStatus::Failed: return "failed";
        case SaveStatus::Skipped: return "skipped";
    }
    return "failed";
}

std::string originName(ContentOrigin o) {
    switch (o) {
        case ContentOrigin::Allocated: return "allocated";
        case ContentOrigin::DeletedChainIntact: return "deleted, chain intact";
        case ContentOrigin::DeletedAssumedContiguous: return "deleted, assumed contiguous";
        case ContentOrigin::Scan: return "scan";
    }
    return "allocated";
}

std::string runKindName(ByteRun::Kind k) {
    switch (k) {
        case ByteRun::Kind::Data: return "data";
        case ByteRun::Kind::Sparse: return "sparse";
        case ByteRun::Kind::Compressed: return "compressed";
        case ByteRun::Kind::Resident: return "resident";
    }
    return "data";
}

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

std::string saveReportCsv(const fs::path& outDir, const std::vector<SavedFile>& saved) {
    std::string out =
        "path,saved_as,record,deleted,size,md5,sha256,created,accessed,modified,status,"
        "expected_size,written_size,bad_bytes,origin,reason,original_name\r\n";
    for (const auto& s : saved) {
        out += csvCell(toUtf8(s.volumePath)) + ',' + csvCell(relativeText(s.written, outDir)) + ',' +
               std::to_string(s.recordNumber) + ',' + (s.deleted ? "yes" : "no") + ',' + std::to_string(s.bytes) + ',' +
               s.md5 + ',' + s.sha256 + ',' + isoTime(s.times.creation) + ',' + isoTime(s.times.access) + ',' +
               isoTime(s.times.modification) + ',' + statusName(s.status) + ',' + std::to_string(s.expectedSize) + ',' +
               std::to_string(s.bytes) + ',' + std::to_string(s.badBytes) + ',' + csvCell(originName(s.origin)) + ',' +
               csvCell(s.reason) + ',' + csvCell(toUtf8(s.originalName)) + "\r\n";
    }
    return out;
}

nlohmann::json damagedRangesJson(const std::vector<DamagedRange>& ranges) {
    nlohmann::json out = nlohmann::json::array();
    for (const DamagedRange& d : ranges)
        out.push_back({{"file_offset", d.fileOffset},
                       {"length", d.length},
                       {"image_offset", d.imageOffset ? nlohmann::json(*d.imageOffset) : nlohmann::json(nullptr)},
                       {"cause", d.cause}});
    return out;
}

std::string saveReportJson(const fs::path& outDir, const std::vector<SavedFile>& saved) {
    nlohmann::json arr = nlohmann::json::array();
    auto timeOrNull = [](const std::optional<UnixNanos>& t) {
        return t ? nlohmann::json(isoTime(t)) : nlohmann::json(nullptr);
    };
    auto offsetOrNull = [](const std::optional<std::uint64_t>& o) {
        return o ? nlohmann::json(*o) : nlohmann::json(nullptr);
    };
    for (const auto& s : saved) {
        nlohmann::json runs = nlohmann::json::array();
        for (const ByteRun& r : s.runs)
            runs.push_back({{"file_offset", r.fileOffset},
                            {"image_offset", offsetOrNull(r.imageOffset)},
                            {"length", r.length},
                            {"kind", runKindName(r.kind)},
                            {"stored_length", r.storedLength}});
        nlohmann::json row = {{"path", toUtf8(s.volumePath)},
                              {"saved_as", relativeText(s.written, outDir)},
                              {"record", s.recordNumber},
                              {"deleted", s.deleted},
                              {"size", s.bytes},
                              {"md5", s.md5},
                              {"sha256", s.sha256},
                              {"created", timeOrNull(s.times.creation)},
                              {"accessed", timeOrNull(s.times.access)},
                              {"modified", timeOrNull(s.times.modification)},
                              {"status", statusName(s.status)},
                              {"expected_size", s.expectedSize},
                              {"written_size", s.bytes},
                              {"bad_bytes", s.badBytes},
                              {"origin", originName(s.origin)},
                              {"reason", s.reason},
                              {"runs", std::move(runs)},
                              {"damaged", damagedRangesJson(s.damaged)}};
        if (!s.originalName.empty()) row["original_name"] = toUtf8(s.originalName);
        if (!s.stream.empty()) row["stream"] = toUtf8(s.stream);
        arr.push_back(std::move(row));
    }
    // Names from an image need not be valid UTF-8 after conversion; replace, never throw.
    return arr.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

std::optional<fs::path> writeSaveReportCsv(const fs::path& file, const fs::path& outDir,
                                           const std::vector<SavedFile>& saved) {
    return writeReport(file, saveReportCsv(outDir, saved));
}

std::optional<fs::path> writeSaveReportJson(const fs::path& file, const fs::path& outDir,
                                            const std::vector<SavedFile>& saved) {
    return writeReport(file, saveReportJson(outDir, saved));
}

}  // namespace salvage
