#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>

#include "cli/Commands.h"
#include "cli/ExitCodes.h"
#include "image/EwfInfo.h"
#include "image/ImageOpen.h"
#include "platform/Text.h"

namespace salvage::cli {

namespace {
struct InfoOptions {
    std::string image;
    bool json = false;
};

// The value as one terminal line: the banner's trailing line breaks dropped.
std::string oneLine(const std::u16string& value) {
    std::string text = toUtf8(value);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

int runInfo(const InfoOptions& o) {
    if (std::string problem = imageProblem(o.image); !problem.empty()) {
        std::fprintf(stderr, "salvage: %s\n", problem.c_str());
        return kExitOpen;
    }
    CliReporter reporter;
    EwfInfoRecord record;
    std::vector<InfoRow> rows;
    // After a failure the list stays empty, like the information page's.
    bool ok = readImageInformation(o.image, record, reporter);
    if (ok) fillInformationList(record, rows);
    if (o.json) {
        nlohmann::json out = nlohmann::json::array();
        for (const auto& r : rows) out.push_back({{"item", toUtf8(r.item)}, {"value", toUtf8(r.value)}});
        std::cout << out.dump(2) << "\n";
    } else {
        std::printf("%-26s %s\n", "ITEM", "VALUE");
        for (const auto& r : rows) std::printf("%-26s %s\n", toUtf8(r.item).c_str(), oneLine(r.value).c_str());
    }
    return ok ? kExitOk : kExitParse;
}
}  // namespace

void addInfoCommand(CLI::App& app) {
    auto o = std::make_shared<InfoOptions>();
    auto* cmd = app.add_subcommand("info", "Show an EWF image's acquisition and media information");
    cmd->add_option("IMAGE", o->image, "first EWF segment file, or a wildcard pattern naming the segments")->required();
    cmd->add_flag("--json", o->json, "print the rows as JSON");
    cmd->callback([o]() { std::exit(runInfo(*o)); });
}

}  // namespace salvage::cli
