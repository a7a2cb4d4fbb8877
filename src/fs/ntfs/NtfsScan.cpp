// The record scans: the Advanced mode's search for where an MFT starts and
// the Deep mode's scan for every record.
#include <array>

#include "fs/ntfs/ntfs.h"
#include "platform/Text.h"

namespace salvage {

using namespace ntfs_disk;

namespace {
// The Deep scan writes its status once per this many records found.
constexpr std::int64_t kDeepStatusEvery = 256;
// Records the Deep scan reserves room for at once.
constexpr std::uint64_t kDeepReserveRecords = 1u << 21;
}  // namespace

std::int64_t ntfs::scanForMftCandidates(std::int64_t limit) {
    if (limit < 1) limit = 3;
    const std::uint64_t cb = bootRead_ ? boot.clusterBytes() : 0;
    bytesPerCluster = cb ? std::int64_t(cb) : 4096;
    mftLocated_ = false;
    mftOffset = 0;
    candidates_.clear();
    // The volume record's size bounds the search; without one, the size
    // the boot sector gave.
    if (const std::int64_t bytes = volumeBytes(volume); bytes > 0) volumeSize = bytes;
    if (volumeSize <= 0) return 0;
    reporter->setStatus(u"");
    // The names of the last eight record headers met, oldest first: the
    // first eight MFT records ($MFT ... $Boot) lie one after another, so a
    // $Boot record means the one seven places back is the $MFT itself, not
    // its mirror (which no $Boot follows).
    // Kept in a ring: record k in slot k % 8.
    struct Recent {
        std::u16string name;
        std::int64_t offset = 0;
    };
    std::array<Recent, 8> recent{};
    std::int64_t found = 0;
    NtfsEntry e;
    DecodedText text;
    scanRecords(volumeSize - std::int64_t(kRecordBytes), true, [&](std::int64_t offset, ByteView raw) {
        e = NtfsEntry{};
        decodeEntry(e, raw, text);
        Recent& slot = recent[std::size_t(found % 8)];
        slot.name = text.name;
        slot.offset = offset;
        ++found;
        const Recent& back = recent[std::size_t(found % 8)];  // the one seven places back
        if (text.name.rfind(u"$Boot", 0) == 0 && found >= 8 && back.name.rfind(u"$MFT", 0) == 0 &&
            (back.name.size() < 5 || back.name[4] != u'M')) {
            NtfsEntry candidate;
            candidate.recordOffset = back.offset;
            candidates_.push_back(candidate);
            reporter->setStatus(format16("MFT ENTRY %lld Found.Parsing it ...", (long long)found));
            if (std::int64_t(candidates_.size()) >= limit) return false;
        }
        return true;
    });
    // A Stop ends the search only; the walk that follows must still run.
    stopRequested.store(false);
    return std::int64_t(candidates_.size());
}

bool ntfs::useCandidate(std::int64_t index) {
    mftLocated_ = false;
    mftRuns.clear();
    if (index >= 0 && std::uint64_t(index) < candidates_.size())
        mftRuns = dataRunsOfRecordAt(candidates_[std::size_t(index)].recordOffset);
    if (mftRuns.empty()) return false;
    mftOffset = candidates_[std::size_t(index)].recordOffset;
    mftLocated_ = true;
    needMftRuns_ = false;
    return true;
}

void ntfs::scanAllRecords() {
    const std::uint64_t cb = bootRead_ ? boot.clusterBytes() : 0;
    bytesPerCluster = cb ? std::int64_t(cb) : 4096;
    mftLocated_ = false;
    mftOffset = 0;
    clearTable();
    scannedRecords_.clear();
    // Without a size from the boot sector or the volume record, the scan
    // runs to the image's end.
    if (volumeSize <= 0 && source) volumeSize = std::max<std::int64_t>(0, source->totalSectors() * 512 - source->baseOffset);
    // One reservation for the table and the number index: a record is
    // found at most every 1024 bytes (a reservation not written to costs
    // address space only; a larger volume grows them past the cap).
    const std::uint64_t most = std::uint64_t(withinImage(volumeSize)) / kRecordBytes + 1;
    const std::size_t reserve = std::size_t(std::min<std::uint64_t>(most, kDeepReserveRecords));
    entries_.reserve(reserve + 1);
    scannedRecords_.reserve(reserve);
    std::int64_t found = 0;
    NtfsEntry e;
    scanRecords(volumeSize, true, [&](std::int64_t offset, ByteView raw) {
        decodeInto(e, raw, offset);
        ++found;
        if (e.isFile()) scannedRecords_.push_back({e.recordNumber, offset});
        if (e.hasName) {
            e.orphaned = true;
            keepEntry(e);
            if (found % kDeepStatusEvery == 1)
                reporter->setStatus(format16("MFT ENTRY %lld Found.Parsing it ..", (long long)found));
        }
        return true;
    });
}

}  // namespace salvage
