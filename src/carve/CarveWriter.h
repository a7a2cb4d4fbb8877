#pragma once
// Writes chosen finds of a carving scan into an output folder, one file per
// find, named from its offset and extension, trimmed to the format's own end
// where that lies within the find, and lists them in carve-report.csv with
// their MD5 and SHA-256. Everything goes through the one host writer.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "browse/OutputFolder.h"
#include "carve/myJpg.h"
#include "image/SectorSource.h"
#include "platform/Poll.h"
#include "platform/Reporter.h"

namespace salvage {

inline constexpr char kCarveReportName[] = "carve-report.csv";

struct CarvedFile {
    std::size_t findIndex = 0;
    std::uint64_t start = 0;
    std::int64_t length = 0;        // as the engine listed it
    std::uint64_t writtenBytes = 0;
    bool trimmed = false;
    bool complete = true;           // false when a read failed or the find ran past the volume
    std::u16string extension;
    std::u16string category;
    std::string fileName;           // inside the output folder
    std::string md5, sha256;        // lower-case hex of the written bytes
};

class CarveWriter : public Pollable {
public:
    // Finds whose format end must be searched for are read into memory up to
    // this many bytes; a longer find is written whole.
    static constexpr std::uint64_t kTrimWindowBytes = 128ull << 20;

    CarveWriter(readWriteInterface& source, std::int64_t volumeBytes, std::filesystem::path outputFolder,
                Reporter& reporter = nullReporter());

    // Writes the finds with the given indices into foundFiles, then the
    // report. False when the folder or the report cannot be written; a
    // single file that fails is reported and the others still written.
    bool write(const myJpg& engine, const std::vector<std::size_t>& findIndices);
    const std::vector<CarvedFile>& carved() const { return carved_; }
    // Where the report went (a name taken by a link gives the next numbered one).
    const std::filesystem::path& reportPath() const { return reportPath_; }

private:
    bool writeOne(const myJpg& engine, std::size_t index, CarvedFile& out);
    std::string uniqueName(std::uint64_t start, std::u16string_view extension);
    // Reads the find's bytes [from, to) into buffer_ at the same offsets.
    void fill(std::uint64_t findStart, std::size_t from, std::size_t to, CarvedFile& out);
    // The end of a find that ends with its last "%%EOF" (up to the trim
    // window long), its first piece left in buffer_ as the head.
    std::optional<std::uint64_t> lastEofEnd(std::uint64_t findStart, std::uint64_t length, std::size_t& headBytes,
                                            CarvedFile& out);
    bool writeReport();

    readWriteInterface& source_;
    std::int64_t volumeBytes_;
    std::filesystem::path folder_;
    Reporter& reporter_;
    OutputFolder output_;
    std::filesystem::path reportPath_;
    std::vector<CarvedFile> carved_;
    std::unordered_set<std::string> usedNames_;  // a lookup per find, not a walk of all before it
    std::vector<std::uint8_t> buffer_;
};

}  // namespace salvage
