// salvage search: names of a parsed volume that match a regular expression.
#include <cstdio>
#include <iostream>

#include "cli/Commands.h"
#include "cli/Session.h"
#include "cli/TreePrint.h"
#include "platform/Text.h"

namespace salvage::cli {

namespace {
struct SearchOptions {
    std::string image;
    VolumeOptions volume;
    std::string pattern;
    bool json = false;
};

int runSearch(const SearchOptions& o) {
    Session s;
    if (!s.open(o.image, o.volume)) return kExitOpen;
    int rc = s.parse();
    if (rc != kExitOk) return rc;  // a search after Ctrl-C in the parse is not wanted
    s.armSearchAbort();
    s.controller.startSearch(fromUtf8(o.pattern));
    s.reporter.finishProgress();
    if (!s.controller.lastSearchPatternValid()) return kExitOpen;
    std::vector<EntryRow> rows;
    for (const ListRow& r : s.list.rows()) {
        EntryRow e;
        e.path = r.name;
        e.record = r.record;
        if (r.record) {
            e = entryRow(*s.controller.parser(), r.name, r.record, s.controller.parser()->isDirectory(*r.record));
        }
        rows.push_back(std::move(e));
    }
    if (o.json)
        printRowsJson(rows);
    else
        printRowsText(rows);
    return s.interrupted() ? kExitInterrupted : kExitOk;
}
}  // namespace

void addSearchCommand(CLI::App& app) {
    auto o = std::make_shared<SearchOptions>();
    auto* cmd = app.add_subcommand("search", "List the entries whose names match a regular expression");
    cmd->add_option("IMAGE", o->image, "raw image, block device or first EWF segment")->required();
    cmd->add_option("PATTERN", o->pattern, "ECMAScript regular expression, case ignored, e.g. 'jpg|png'")->required();
    cmd->add_flag("--json", o->json, "print the rows as JSON");
    addVolumeOptions(cmd, o->volume);
    cmd->callback([o]() { std::exit(runSearch(*o)); });
}

}  // namespace salvage::cli
