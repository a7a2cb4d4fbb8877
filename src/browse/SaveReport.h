#pragma once
// The save report: one row per file of the save, with where it went, what
// the record says about it, how its content was found, the digests of the
// bytes written, its status and, in the JSON, its byte runs and damaged
// ranges. Written through the one host writer.
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "browse/FolderSave.h"

namespace salvage {

// "2021-03-04T05:06:07.123456789Z", or empty for no time.
std::string isoTime(const std::optional<UnixNanos>& t);

std::string statusName(SaveStatus s);   // ok, damaged, failed, skipped
std::string originName(ContentOrigin o);
std::string runKindName(ByteRun::Kind k);

// The damaged ranges as the JSON report lists them: file_offset, length,
// image_offset (null when unknown), cause. The listing's JSON uses it too.
nlohmann::json damagedRangesJson(const std::vector<DamagedRange>& ranges);

// Columns: path, saved_as (relative to outDir), record, deleted, size,
// md5, sha256, created, accessed, modified, status, expected_size,
// written_size, bad_bytes, origin, reason, original_name.
std::string saveReportCsv(const std::filesystem::path& outDir, const std::vector<SavedFile>& saved);
std::string saveReportJson(const std::filesystem::path& outDir, const std::vector<SavedFile>& saved);

// Write the report file (a name taken by a link gives the next numbered
// name); the path written, or none.
std::optional<std::filesystem::path> writeSaveReportCsv(const std::filesystem::path& file,
                                                        const std::filesystem::path& outDir,
                                                        const std::vector<SavedFile>& saved);
std::optional<std::filesystem::path> writeSaveReportJson(const std::filesystem::path& file,
                                                         const std::filesystem::path& outDir,
                                                         const std::vector<SavedFile>& saved);

}  // namespace salvage
