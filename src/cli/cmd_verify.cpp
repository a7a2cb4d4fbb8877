// salvage verify: checks the files a save wrote against the image they came
// from, through the byte runs and digests of the JSON save report.
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>

#include "browse/SaveVerify.h"
#include "cli/Commands.h"
#include "cli/ExitCodes.h"
#include "image/ImageOpen.h"
#include "platform/Text.h"

namespace salvage::cli {

namespace {
namespace fs = std::filesystem;

struct VerifyOptions {
    std::string report;
    std::string image;
    std::string out;
};

std::optional<std::uint64_t> offsetOf(const nlohmann::json& v) {
    if (v.is_number_unsigned()) return v.get<std::uint64_t>();
    return std::nullopt;
}

ByteRun::Kind runKind(const std::string& k) {
    if (k == "sparse") return ByteRun::Kind::Sparse;
    if (k == "compressed") return ByteRun::Kind::Compressed;
    if (k == "resident") return ByteRun::Kind::Resident;
    return ByteRun::Kind::Data;
}

// One report row as the record the check reads; nothing for rows without a
// saved copy (failed or skipped files).
std::optional<SavedFile> savedFileOf(const nlohmann::json& row, const fs::path& outDir) {
    const std::string savedAs = row.value("saved_as", "");
    const std::string status = row.value("status", "");
    if (savedAs.empty() || status == "failed" || status == "skipped") return std::nullopt;
    SavedFile s;
    s.volumePath = fromUtf8(row.value("path", ""));
    s.written = outDir / savedAs;
    s.md5 = row.value("md5", "");
    s.sha256 = row.value("sha256", "");
    for (const auto& r : row.value("runs", nlohmann::json::array())) {
        ByteRun run;
        run.fileOffset = r.value("file_offset", std::uint64_t(0));
        run.length = r.value("length", std::uint64_t(0));
        run.imageOffset = offsetOf(r.value("image_offset", nlohmann::json()));
        run.storedLength = r.value("stored_length", std::uint64_t(0));
        run.kind = runKind(r.value("kind", "data"));
        s.runs.push_back(run);
    }
    for (const auto& d : row.value("damaged", nlohmann::json::array())) {
        DamagedRange range;
        range.fileOffset = d.value("file_offset", std::uint64_t(0));
        range.length = d.value("length", std::uint64_t(0));
        range.imageOffset = offsetOf(d.value("image_offset", nlohmann::json()));
        s.damaged.push_back(range);
    }
    return s;
}

int runVerify(const VerifyOptions& o) {
    nlohmann::json rows;
    {
        std::ifstream in(o.report, std::ios::binary);
        rows = nlohmann::json::parse(in, nullptr, false);
    }
    if (!rows.is_array()) {
        std::fprintf(stderr, "salvage: %s is not a JSON save report\n", o.report.c_str());
        return kExitOpen;
    }
    CliReporter reporter;
    std::string error;
    OpenedImage img = openImage(o.image, reporter, &error);
    if (!img.source) {
        std::fprintf(stderr, "salvage: %s\n", error.c_str());
        return kExitOpen;
    }
    const fs::path outDir = o.out.empty() ? fs::path(o.report).parent_path() : fs::path(o.out);
    std::size_t checked = 0, differ = 0, withoutRuns = 0;
    try {
        for (const auto& row : rows) {
            auto saved = row.is_object() ? savedFileOf(row, outDir) : std::nullopt;
            if (!saved) continue;
            ++checked;
            if (saved->runs.empty()) ++withoutRuns;
            const std::string problem = verifySavedFile(*img.source, *saved);
            if (problem.empty()) continue;
            ++differ;
            std::printf("DIFFERS  %s: %s\n", toUtf8(saved->volumePath).c_str(), problem.c_str());
        }
    } catch (const nlohmann::json::exception& e) {
        // A field of the wrong type: the report was not written by a save.
        std::fprintf(stderr, "salvage: %s: unreadable row (%s)\n", o.report.c_str(), e.what());
        return kExitOpen;
    }
    std::fprintf(stderr, "salvage: %zu of %zu saved copies match the image and their digests", checked - differ,
                 checked);
    if (withoutRuns) std::fprintf(stderr, " (%zu without byte runs: digests only)", withoutRuns);
    std::fprintf(stderr, "\n");
    if (checked == 0) return kExitIncomplete;  // nothing in the report could be checked
    return differ ? kExitDamaged : kExitOk;
}
}  // namespace

void addVerifyCommand(CLI::App& app) {
    auto o = std::make_shared<VerifyOptions>();
    auto* cmd = app.add_subcommand("verify", "Check saved files against the image through their save report's byte runs");
    cmd->add_option("REPORT", o->report, "the JSON save report (salvage_report.json)")->required()->check(CLI::ExistingFile);
    cmd->add_option("--image", o->image, "the image the files were saved from")->required();
    cmd->add_option("--out", o->out, "the folder the files were saved into (default: the report's folder)");
    cmd->callback([o]() { std::exit(runVerify(*o)); });
}

}  // namespace salvage::cli
