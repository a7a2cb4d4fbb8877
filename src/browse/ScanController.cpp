#include "browse/ScanController.h"

#include "browse/FolderOpen.h"
#include "browse/NameSearch.h"
#include "browse/ParserFactory.h"
#include "platform/AppTitle.h"
#include "platform/Text.h"

namespace salvage {

namespace {
struct Row {
    const char16_t* name;
    ParserKind kind;
};
constexpr Row kRows[] = {
    {u"ntfs", ParserKind::Ntfs},  {u"fat32", ParserKind::Fat32}, {u"fat16", ParserKind::Fat16},
    {u"fat12", ParserKind::Fat12},
    {u"fat", ParserKind::Fat16},  {u"extX", ParserKind::Ext},    {u"fat64", ParserKind::Fat64},
    {u"exFat", ParserKind::Fat64}, {u"HFS+", ParserKind::Hfsp},
};
constexpr char16_t kParseDone[] = u"Scanning processing done.Select save button to save the data.";
}  // namespace

std::optional<ParserKind> parserKindFor(const std::u16string& fileSystem) {
    for (const Row& r : kRows)
        if (equalsIgnoreAsciiCase(fileSystem, r.name)) return r.kind;
    return std::nullopt;
}

bool modeAvailable(ParserKind kind, RecoveryMode mode) {
    switch (kind) {
        case ParserKind::Ntfs:
        case ParserKind::Hfsp: return true;
        case ParserKind::Ext: return mode == RecoveryMode::Standard;
        default: return mode != RecoveryMode::Deep;
    }
}

std::unique_ptr<VolumeParser> createParser(ParserKind kind) {
    switch (kind) {
        case ParserKind::Ntfs: return createNtfsParser();
        case ParserKind::Fat32: return createFat32Parser();
        case ParserKind::Fat16: return createFat16Parser();
        case ParserKind::Fat12: return createFat12Parser();
        case ParserKind::Ext: return createExtParser();
        case ParserKind::Fat64: return createFat64Parser();
        case ParserKind::Hfsp: return createHfspParser();
    }
    return nullptr;
}

ScanController::~ScanController() {
    if (parser_) parser_->stopRequested = true;
    searchAbort_ = true;
    saveStopRequested = true;
    gate_.resume();  // a paused job must reach its stop check to end
    wait();
}

void ScanController::wait() {
    if (worker_.joinable() && worker_.get_id() != std::this_thread::get_id()) worker_.join();
}

void ScanController::pause() {
    gate_.pause();
    reporter_.setStatus(u"Pause button pressed");
}

void ScanController::resume() {
    gate_.resume();
    reporter_.setStatus(u"Resume button pressed");
}

void ScanController::stop() {
    if (!parser_) return;
    parser_->stopRequested = true;
    saveStopRequested = true;
    reporter_.setStatus(u"stop button pressed.Please wait for the process to be stopped.");
}

void ScanController::stopAll() {
    searchAbort_ = true;
    saveStopRequested = true;
    if (!parser_) return;
    parser_->stopRequested = true;
    reporter_.setStatus(u"All thread Stopped");
}

bool ScanController::saveAllowed() {
    if (!busy_.load()) return true;
    reporter_.message(u"Please wait for other process to complete", kAppTitle, MessageIcon::Information);
    return false;
}

StartOutcome ScanController::prepare(const VolumeRecord& volume, RecoveryMode mode, readWriteInterface* source,
                                     bool reuse) {
    auto notValid = [&] {
        reporter_.message(u"not a valid drive.", u"", MessageIcon::Information);
        reporter_.setStatus(u"Not a valid Drive .Go back");
        return StartOutcome::NotValidDrive;
    };
    auto kind = parserKindFor(volume.fileSystem);
    if (!kind) return notValid();
    if (*kind == ParserKind::Ntfs) reporter_.setStatus(u"ntfs partition selected....");
    if (*kind == ParserKind::Hfsp) reporter_.setStatus(u"HFS+ partition selected....");
    if (!source) {
        reporter_.message(u"Please Restart the program to rebegin necessary initialisation...", u"",
                          MessageIcon::Information);
        return StartOutcome::NoSource;
    }
    if (!modeAvailable(*kind, mode)) {
        reporter_.message(u"This recovery mode is not available for the selected file system.", kAppTitle,
                          MessageIcon::Information);
        return StartOutcome::ModeNotAvailable;
    }
    if (!(reuse && parser_ && kind_ == kind && volume_.startSector == volume.startSector)) {
        auto p = parserFactory ? parserFactory(*kind) : nullptr;
        if (!p) return notValid();
        parser_ = std::move(p);
        candidatesScanned_ = false;
    }
    kind_ = kind;
    volume_ = volume;
    parser_->pauseGate = &gate_;
    parser_->attach(source, &tree_, &reporter_, volume);
    if (onParserAttached) onParserAttached(*parser_);
    return StartOutcome::Started;
}

void ScanController::launch(std::function<void()> body, JobKind kind) {
    auto job = [this, body = std::move(body), kind] {
        body();
        if (onJobFinished) onJobFinished(kind);
        busy_ = false;
    };
    if (runOnCallerThread) {
        job();
        return;
    }
    worker_ = std::jthread(std::move(job));
}

StartOutcome ScanController::startParse(const VolumeRecord& volume, RecoveryMode mode, readWriteInterface* source) {
    bool idle = false;
    if (!busy_.compare_exchange_strong(idle, true)) return StartOutcome::Busy;
    wait();
    StartOutcome o = prepare(volume, mode, source, mode == RecoveryMode::Advanced);
    if (o != StartOutcome::Started) {
        busy_ = false;
        return o;
    }
    launch([this, mode] { runParse(mode); }, JobKind::Parse);
    return o;
}

StartOutcome ScanController::startCandidateScan(const VolumeRecord& volume, readWriteInterface* source,
                                                std::int64_t maxCandidates) {
    bool idle = false;
    if (!busy_.compare_exchange_strong(idle, true)) return StartOutcome::Busy;
    wait();
    StartOutcome o = prepare(volume, RecoveryMode::Advanced, source, false);
    if (o != StartOutcome::Started) {
        busy_ = false;
        return o;
    }
    launch([this, maxCandidates] { runCandidateScan(maxCandidates); }, JobKind::CandidateScan);
    return o;
}

StartOutcome ScanController::startSearch(const std::u16string& pattern) {
    if (!parser_) return StartOutcome::NoParser;
    bool idle = false;
    if (!busy_.compare_exchange_strong(idle, true)) return StartOutcome::Busy;
    wait();
    searchAbort_ = false;
    launch([this, pattern, top = SearchTopLevel::of(tree_, *parser_)]() mutable { runSearch(pattern, std::move(top)); },
           JobKind::Search);
    return StartOutcome::Started;
}

void ScanController::runCandidateScan(std::int64_t maxCandidates) {
    parser_->stopRequested = false;
    candidates_ = parser_->findAdvancedCandidates(maxCandidates);
    candidatesScanned_ = true;
}

void ScanController::runParse(RecoveryMode mode) {
    VolumeParser& p = *parser_;
    if (mode == RecoveryMode::Advanced && !candidatesScanned_) {
        // No candidate page before this parse: search with the page's default.
        candidates_ = p.findAdvancedCandidates(3);
        candidatesScanned_ = true;
    }
    p.stopRequested = false;
    tree_.clear();
    list_.clear();
    p.parsedMode = mode;
    const ParseResult r = p.parse(mode);
    lastParse_ = r;
    if (r != ParseResult::Done) return;
    // Finishing steps, also after a Stop: the tree holds what was found.
    addFirstLevelPlaceholders(tree_, p);
    p.recycleBinPass();
    if (kind_ != ParserKind::Hfsp) {  // the HFS+ parse writes its own end status
        reporter_.message(kParseDone, kAppTitle, MessageIcon::Information);
        reporter_.setStatus(kParseDone);
    }
}

void ScanController::runSearch(const std::u16string& pattern, SearchTopLevel top) {
    NameSearch search(*parser_, std::move(top), list_, reporter_);
    search.abortAll = &searchAbort_;
    search.onFolderWalk = onFolderWalk;
    searchPatternValid_ = search.run(pattern) == NameSearch::Outcome::Finished;
    searchResults_ = search.results();
}

}  // namespace salvage
