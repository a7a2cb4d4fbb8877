#pragma once
// What ls, save, search and candidates share: open the image, pick the
// volume, parse it with the scan controller on this thread, and turn Ctrl-C
// into Stop for whatever job runs.
#include <atomic>
#include <memory>
#include <string>

#include "browse/BrowseTree.h"
#include "browse/FileList.h"
#include "browse/ScanController.h"
#include "cli/ExitCodes.h"
#include "cli/VolumeChoice.h"
#include "image/ImageOpen.h"

namespace salvage::cli {

class Session {
public:
    Session();
    ~Session();
    // Opens the image and picks the volume; prints why not on failure.
    bool open(const std::string& image, const VolumeOptions& options);
    // Parses in the chosen mode (Advanced: the candidate search, the choice,
    // then the parse). Answers an exit code.
    int parse();
    // The Advanced candidate search alone.
    int findCandidates();

    bool interrupted() const;
    // Ctrl-C from now on ends the search, not just one folder.
    void armSearchAbort();
    // Ctrl-C from now on sets this save's stop flag.
    void watchSaveStop(std::atomic<bool>& flag);

    CliReporter reporter{false, false};
    BrowseTree tree;
    FileList list;
    ScanController controller{reporter, tree, list};
    VolumeRecord volume;
    VolumeOptions options;
    RecoveryMode mode = RecoveryMode::Standard;

private:
    OpenedImage image_;
};

// Ctrl-C (or SIGTERM) for commands that run one job without a Session
// (carve, export, volumes --advanced): while the watch lives, the signal
// sets the watched stop flag; a second Ctrl-C ends the process at once.
class InterruptWatch {
public:
    InterruptWatch();
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;
    // From now on the signal sets this flag (one job's stopRequested).
    void watch(std::atomic<bool>& flag);
    bool interrupted() const;
};

// Splits "ROOT\dir\name" (or with '/') into names; a leading "ROOT" is dropped.
std::vector<std::u16string> splitVolumePath(const std::string& path);

}  // namespace salvage::cli
