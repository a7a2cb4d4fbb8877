#pragma once
// The save report: one line per file handed to the parser, with where it
// went, what the record says about it, and the digests of the bytes written.
#include <filesystem>
#include <string>
#include <vector>

#include "browse/FolderSave.h"

namespace salvage {

// "2021-03-04T05:06:07.123456789Z", or empty for no time.
std::string isoTime(const std::optional<UnixNanos>& t);

// Columns: path, saved_as (relative to outDir), record, deleted, size,
// md5, sha256, created, accessed, modified, status (ok, failed, skipped).
bool writeSaveReportCsv(const std::filesystem::path& file, const std::filesystem::path& outDir,
                        const std::vector<SavedFile>& saved);
bool writeSaveReportJson(const std::filesystem::path& file, const std::filesystem::path& outDir,
                         const std::vector<SavedFile>& saved);

}  // namespace salvage
