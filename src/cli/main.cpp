#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>

#include "cli/Commands.h"
#include "cli/ExitCodes.h"

namespace {
constexpr char kExitTable[] =
    "Exit status (every command):\n"
    "  0    done, everything as asked\n"
    "  1    something asked for was not found, or could not be written\n"
    "  2    image, volume, pattern or option unusable (nothing done)\n"
    "  3    the volume could not be parsed\n"
    "  4    finished, but saved files or the copy hold damage (listed in the report / summary),\n"
    "       or ls --check found files that touch damage\n"
    "  130  stopped by Ctrl-C; what was done is kept and reported\n";

// The first argument, when it is neither an option nor a command.
bool unknownCommand(CLI::App& app, int argc, char** argv) {
    if (argc < 2 || argv[1][0] == '-') return false;
    const std::string word = argv[1];
    for (const CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; }))
        if (sub->check_name(word)) return false;
    std::string names;
    for (const CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; }))
        names += (names.empty() ? "" : ", ") + sub->get_name();
    std::fprintf(stderr, "salvage: unknown command '%s'\nThe commands are: %s. Try 'salvage --help'.\n",
                 word.c_str(), names.c_str());
    return true;
}
}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"salvage: file recovery from forensic disk images (EWF, raw images, block devices)"};
    app.require_subcommand(1);
    app.set_version_flag("--version", "salvage 0.1.0");
    app.footer(kExitTable);
    salvage::cli::addInfoCommand(app);
    salvage::cli::addVolumesCommand(app);
    salvage::cli::addBrowseCommands(app);
    salvage::cli::addSearchCommand(app);
    salvage::cli::addCarveCommand(app);
    salvage::cli::addExportCommand(app);
    salvage::cli::addVerifyCommand(app);
    if (unknownCommand(app, argc, argv)) return salvage::cli::kExitOpen;
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // --help and --version end here with 0; a bad option is an unusable option.
        return app.exit(e) == 0 ? salvage::cli::kExitOk : salvage::cli::kExitOpen;
    }
    return salvage::cli::kExitOk;
}
