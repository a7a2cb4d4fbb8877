#include <CLI/CLI.hpp>

#include "cli/Commands.h"

int main(int argc, char** argv) {
    CLI::App app{"salvage: file recovery from forensic disk images (EWF, raw images, block devices)"};
    app.require_subcommand(1);
    app.set_version_flag("--version", "salvage 0.1.0");
    salvage::cli::addInfoCommand(app);
    salvage::cli::addVolumesCommand(app);
    salvage::cli::addBrowseCommands(app);
    salvage::cli::addSearchCommand(app);
    salvage::cli::addCarveCommand(app);
    salvage::cli::addExportCommand(app);
    salvage::cli::addVerifyCommand(app);
    CLI11_PARSE(app, argc, argv);
    return 0;
}
