#pragma once
// The volume page's controller: picks the parser by the volume's
// file-system name and the recovery mode, runs one job at a time (parse,
// Advanced candidate scan, name search) on one worker thread, and carries
// Pause, Resume and Stop. A front end that has no event loop of its own
// (the command line) runs the jobs on the caller's thread instead.
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

#include "browse/BrowseTree.h"
#include "browse/FileList.h"
#include "browse/NameSearch.h"
#include "browse/VolumeParser.h"
#include "platform/Poll.h"
#include "platform/Reporter.h"

namespace salvage {

enum class ParserKind { Ntfs, Fat32, Fat16, Ext, Fat64, Hfsp, Fat12 };
enum class JobKind { Parse, CandidateScan, Search };

enum class StartOutcome {
    Started,
    NotValidDrive,     // no row for the name, or its parser is not built
    ModeNotAvailable,  // the row has no thread for this mode
    NoSource,          // no image open
    Busy,              // another job runs
    NoParser,          // a search or save before any parse
};

// The dispatch table: the row for a file-system name, ASCII case ignored.
std::optional<ParserKind> parserKindFor(const std::u16string& fileSystem);
bool modeAvailable(ParserKind kind, RecoveryMode mode);
std::unique_ptr<VolumeParser> createParser(ParserKind kind);

class ScanController {
public:
    ScanController(Reporter& reporter, BrowseTree& tree, FileList& list)
        : reporter_(reporter), tree_(tree), list_(list) {}
    ~ScanController();
    ScanController(const ScanController&) = delete;
    ScanController& operator=(const ScanController&) = delete;

    // Jobs run on the caller's thread and start* returns when they end.
    bool runOnCallerThread = false;
    // Makes the parser of a dispatch row (tests put their own in).
    std::function<std::unique_ptr<VolumeParser>(ParserKind)> parserFactory = createParser;

    // Called on the job's thread when a job has ended (after the finishing
    // steps of a parse), before the controller stops being busy.
    std::function<void(JobKind)> onJobFinished;
    // Called when a job's parser is attached, before the job starts (lets a
    // front end route its own stop signal to the parser's flag).
    std::function<void(VolumeParser&)> onParserAttached;
    // Forwarded to the search: a top-level folder's walk starts / ends.
    std::function<void(bool)> onFolderWalk;

    StartOutcome startParse(const VolumeRecord& volume, RecoveryMode mode, readWriteInterface* source);
    // Advanced mode, step one: the candidate search of the parser the
    // later startParse(Advanced) uses; read its advancedLists() and set its
    // advancedChoice between the two.
    StartOutcome startCandidateScan(const VolumeRecord& volume, readWriteInterface* source,
                                    std::int64_t maxCandidates);
    StartOutcome startSearch(const std::u16string& pattern);

    void pause();
    void resume();
    void stop();
    // The exit command: every stop flag set (a paused job stays paused), and
    // "All thread Stopped" when a parser is attached.
    void stopAll();
    // Ends the whole search at its next poll (Stop ends one top-level folder).
    void abortSearch() { searchAbort_ = true; }
    std::atomic<bool>& searchAbortFlag() { return searchAbort_; }

    bool busy() const { return busy_.load(); }
    // Waits for the running job (if any) to end.
    void wait();
    // Save is refused while a job runs ("Please wait for other process to complete").
    bool saveAllowed();

    VolumeParser* parser() const { return parser_.get(); }
    std::optional<ParserKind> parserKind() const { return kind_; }
    ParseResult lastParseResult() const { return lastParse_.load(); }
    std::int64_t candidateCount() const { return candidates_.load(); }
    std::int64_t searchResults() const { return searchResults_.load(); }
    bool lastSearchPatternValid() const { return searchPatternValid_.load(); }
    PauseGate& pauseGate() { return gate_; }
    // Set by Stop for a folder save the front end runs.
    std::atomic<bool> saveStopRequested{false};

private:
    StartOutcome prepare(const VolumeRecord& volume, RecoveryMode mode, readWriteInterface* source, bool reuse);
    void launch(std::function<void()> body, JobKind kind);
    void runParse(RecoveryMode mode);
    void runCandidateScan(std::int64_t maxCandidates);
    void runSearch(const std::u16string& pattern, SearchTopLevel top);

    Reporter& reporter_;
    BrowseTree& tree_;
    FileList& list_;
    PauseGate gate_;
    std::unique_ptr<VolumeParser> parser_;
    std::optional<ParserKind> kind_;
    VolumeRecord volume_;
    bool candidatesScanned_ = false;
    std::atomic<bool> busy_{false};
    std::atomic<bool> searchAbort_{false};
    std::atomic<ParseResult> lastParse_{ParseResult::Failed};
    std::atomic<std::int64_t> candidates_{0};
    std::atomic<std::int64_t> searchResults_{0};
    std::atomic<bool> searchPatternValid_{true};
    std::jthread worker_;
};

}  // namespace salvage
