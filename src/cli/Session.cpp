#include "cli/Session.h"

#include <csignal>
#include <cstdio>

#include "image/Globals.h"
#include "platform/Text.h"

namespace salvage::cli {

namespace {
// Flags the Ctrl-C handler sets. Lock-free atomics are safe in a handler.
std::atomic<bool> g_interrupted{false};
std::atomic<std::atomic<bool>*> g_jobStop{nullptr};
std::atomic<std::atomic<bool>*> g_saveStop{nullptr};
std::atomic<std::atomic<bool>*> g_searchAbort{nullptr};

extern "C" void onInterrupt(int) {
    g_interrupted.store(true);
    for (auto* slot : {&g_jobStop, &g_saveStop, &g_searchAbort})
        if (std::atomic<bool>* f = slot->load()) f->store(true);
}

void installHandler() {
    struct sigaction sa {};
    sa.sa_handler = onInterrupt;
    sigemptyset(&sa.sa_mask);
    // A second Ctrl-C ends the process at once.
    sa.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}
}  // namespace

Session::Session() {
    controller.runOnCallerThread = true;
    controller.onParserAttached = [](VolumeParser& p) { g_jobStop.store(&p.stopRequested); };
    g_saveStop.store(&controller.saveStopRequested);
    installHandler();
}

Session::~Session() {
    g_jobStop.store(nullptr);
    g_saveStop.store(nullptr);
    g_searchAbort.store(nullptr);
    reporter.finishProgress();
    if (g_sectorSource == image_.source.get()) g_sectorSource = nullptr;
}

InterruptWatch::InterruptWatch() { installHandler(); }

InterruptWatch::~InterruptWatch() {
    g_jobStop.store(nullptr);
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
}

void InterruptWatch::watch(std::atomic<bool>& flag) {
    g_jobStop.store(&flag);
    // A signal that came before the job existed still stops it.
    if (g_interrupted.load()) flag.store(true);
}

bool InterruptWatch::interrupted() const { return g_interrupted.load(); }

bool Session::interrupted() const { return g_interrupted.load(); }

void Session::watchSaveStop(std::atomic<bool>& flag) { g_saveStop.store(&flag); }

void Session::armSearchAbort() { g_searchAbort.store(&controller.searchAbortFlag()); }

bool Session::open(const std::string& path, const VolumeOptions& o) {
    options = o;
    auto m = parseMode(o.mode);
    if (!m) {
        std::fprintf(stderr, "salvage: unknown mode %s\n", o.mode.c_str());
        return false;
    }
    mode = *m;
    std::string error;
    image_ = openImage(path, reporter, &error);
    if (!image_.source) {
        std::fprintf(stderr, "salvage: %s\n", error.c_str());
        return false;
    }
    g_sectorSource = image_.source.get();
    g_imageKind = image_.kind;
    g_driveFormatted = o.formatted;
    if (!chooseVolume(*image_.source, o, volume, error)) {
        std::fprintf(stderr, "salvage: %s\n", error.c_str());
        return false;
    }
    return true;
}

int Session::findCandidates() {
    StartOutcome s = controller.startCandidateScan(volume, image_.source.get(), options.maxCandidates);
    reporter.finishProgress();
    if (s != StartOutcome::Started) return kExitParse;
    return interrupted() ? kExitInterrupted : kExitOk;
}

int Session::parse() {
    if (mode == RecoveryMode::Advanced) {
        if (int rc = findCandidates(); rc != kExitOk) return rc;
        VolumeParser* p = controller.parser();
        AdvancedLists lists = p->advancedLists();
        AdvancedChoice& c = p->advancedChoice;
        c.candidate = options.candidate.value_or(lists.candidates.empty() ? -1 : 0);
        c.sectorsPerCluster = options.sectorsPerCluster.value_or(-1);
        c.heapOffset = options.heap.value_or(-1);
        if (c.candidate >= int(lists.candidates.size()) ||
            c.sectorsPerCluster >= int(lists.sectorsPerCluster.size()) ||
            c.heapOffset >= int(lists.heapOffsets.size())) {
            std::fprintf(stderr, "salvage: the chosen candidate is not in the lists `salvage candidates` shows\n");
            return kExitOpen;
        }
    }
    StartOutcome s = controller.startParse(volume, mode, image_.source.get());
    reporter.finishProgress();
    if (s != StartOutcome::Started) return s == StartOutcome::NoSource ? kExitOpen : kExitParse;
    if (controller.lastParseResult() != ParseResult::Done) {
        std::fprintf(stderr, "salvage: the volume could not be parsed as %s\n", toUtf8(volume.fileSystem).c_str());
        return kExitParse;
    }
    return interrupted() ? kExitInterrupted : kExitOk;
}

std::vector<std::u16string> splitVolumePath(const std::string& path) {
    std::vector<std::u16string> parts;
    std::u16string cur;
    for (char16_t ch : fromUtf8(path)) {
        if (ch == u'\\' || ch == u'/') {
            if (!cur.empty()) parts.push_back(cur);
            cur.clear();
        } else {
            cur += ch;
        }
    }
    if (!cur.empty()) parts.push_back(cur);
    if (!parts.empty() && parts.front() == u"ROOT") parts.erase(parts.begin());
    return parts;
}

}  // namespace salvage::cli
