// Boot sector, MFT location and the walk over the MFT's record slots.
#include <algorithm>
#include <cstring>

#include "fs/ntfs/ntfs.h"
#include "image/ChunkedScan.h"
#include "platform/Text.h"

namespace salvage {

using namespace ntfs_disk;

namespace {
// MFT bytes read with one call during the walk.
constexpr std::size_t kWalkPieceBytes = 4u << 20;
// Status and progress are posted once per this many record slots.
constexpr std::int64_t kReportEvery = 1024;
}  // namespace

void addStream(std::vector<NamedStream>& streams, NamedStream st) {
    if (st.name.empty() || streams.size() >= ntfs::kMaxStreamsPerFile) return;
    for (const NamedStream& have : streams)
        if (have.name == st.name) return;  // a second attribute of one name adds nothing readable
    streams.push_back(std::move(st));
}

bool ntfs::attachSource() {
    if (!source) return false;
    source->baseOffset = volume.startSector * kSectorBytes;
    return source->seek(0, 0);
}

std::int64_t ntfs::withinImage(std::int64_t end) const {
    if (!source) return end;
    // An image shorter than one sector counts as empty: its size must not
    // leave a scan bounded only by the boot sector's (any) volume size.
    std::int64_t image = 0;
    if (!checkedMul(std::max<std::int64_t>(source->totalSectors(), 0), kSectorBytes, image)) return end;
    return std::max<std::int64_t>(0, std::min(end, image - source->baseOffset));
}

bool ntfs::readRecord(std::int64_t offset, Record& out) const {
    out.fill(0);
    return offset >= 0 && source && readAt(*source, offset, out.data(), kRecordBytes);
}

void ntfs::decodeEntry(NtfsEntry& e, ByteView raw, DecodedText& text) const {
    text.name.clear();
    text.streams.clear();
    e.file = raw.matches(0, "FILE");
    if (!e.isFile()) return;
    const Record r = applyFixups(raw);
    const ByteView rec(r.data(), r.size());
    const RecordHeader h = decodeRecordHeader(rec);
    e.recordNumber = h.recordNumber;
    e.baseReference = h.baseReference;
    e.recordFlags = h.flags;
    bool haveParent = false, nameIsLong = false;
    std::size_t pos = h.firstAttribute;
    AttrHeader a;
    FileNameInfo fn;
    ByteView fnName;
    while (nextAttribute(rec, pos, a)) {
        if (a.type == kAttrStandardInformation && !a.nonResident) {
            const StandardTimes t = decodeStandardInformation(residentValue(rec, a));
            e.creation = t.creation;
            e.modification = t.modification;
            e.access = t.access;
            e.recordChange = t.recordChange;
        } else if (a.type == kAttrFileName && !a.nonResident) {
            if (!decodeFileNameHeader(residentValue(rec, a), fn, fnName)) continue;
            if (fn.isDirectory()) e.kind = NtfsKind::Directory;
            if (!haveParent) {
                // A reference beyond 32 bits names no record of any table.
                e.hasParentReference = fn.parent >= 0 && fn.parent <= std::int64_t(UINT32_MAX);
                if (e.hasParentReference) e.parent = RecordIndex(fn.parent);
                haveParent = true;
            }
            // A DOS 8.3 name never replaces a long one.
            const std::size_t units = fnName.size() / 2;
            const bool isLong = fn.nameSpace != kNamespaceDos && units != 0;
            if ((isLong || !nameIsLong) && (units != 0 || text.name.empty())) {
                text.name.resize(units);
                for (std::size_t i = 0; i < units; ++i)
                    text.name[i] = char16_t(fnName.data()[2 * i] | (fnName.data()[2 * i + 1] << 8));
                e.fileNameFlags = fn.flags;
                nameIsLong = isLong;
            }
            e.hasName = true;
        } else if (a.type == kAttrAttributeList) {
            e.hasAttributeList = true;
        } else if (a.type == kAttrData && a.nameLength == 0) {
            if (!a.nonResident) e.dataSize = a.valueLength;
            else if (a.startVcn == 0) e.dataSize = a.realSize;
        } else if (a.type == kAttrData && (!a.nonResident || a.startVcn == 0)) {
            // A named stream is listed from the record that holds its start.
            NamedStream st{attributeName(rec, a), a.nonResident ? a.realSize : std::int64_t(a.valueLength)};
            addStream(text.streams, std::move(st));
        }
    }
    if (e.hasName && text.name.empty())
        text.name = u"NONAME_" + fromUtf8(std::to_string(e.recordNumber));
}

void ntfs::decodeInto(NtfsEntry& e, ByteView raw, std::int64_t offset) {
    e = NtfsEntry{};
    e.recordOffset = offset;
    decodeEntry(e, raw, scratch_);
}

void ntfs::keepEntry(NtfsEntry e) {
    // Indices are 32 bits wide with one value kept for "none"; a table
    // that large would need hundreds of gigabytes.
    if (entries_.size() >= std::size_t(kNoLink) - 1) return;
    const RecordIndex index = RecordIndex(entries_.size());
    e.name = names_.add(scratch_.name);
    for (const NamedStream& st : scratch_.streams) streams_.push_back({index, names_.add(st.name), st.size});
    entries_.push_back(e);
}

void ntfs::clearTable() {
    entries_.clear();
    names_.clear();
    chains_.clear();
    streams_.clear();
    streamOf_.clear();
    byNumber_.clear();
    firstStream_ = kNoLink;
}

std::vector<ClusterRun> ntfs::dataRunsOfRecordAt(std::int64_t offset) const {
    Record raw;
    if (!readRecord(offset, raw) || !looksLikeRecordHeader(ByteView(raw.data(), raw.size()))) return {};
    const Record r = applyFixups(ByteView(raw.data(), raw.size()));
    const ByteView rec(r.data(), r.size());
    for (const AttrHeader& a : walkAttributes(rec)) {
        if (a.type != kAttrData || !a.nonResident || a.nameLength != 0) continue;
        if (a.lastVcn < a.startVcn) return {};
        return decodeRunList(runListBytes(rec, a), std::uint64_t(a.lastVcn - a.startVcn) + 1);
    }
    return {};
}

bool ntfs::readBootSector() {
    std::vector<std::uint8_t> sector(512, 0);
    if (source) readAt(*source, 0, sector.data(), 512);
    boot = decodeBootSector(ByteView(sector));
    bootRead_ = true;
    std::int64_t size = 0;
    if (boot.isNtfs && boot.totalSectors <= std::uint64_t(INT64_MAX / 512)) size = std::int64_t(boot.totalSectors) * 512;
    if (!boot.isNtfs) {
        size = volumeBytes(volume);
    }
    volumeSize = size;
    return volumeSize != 0;
}

bool ntfs::locateMft() {
    const std::uint64_t cb = boot.clusterBytes();
    if (boot.isNtfs && cb != 0) {
        bytesPerCluster = std::int64_t(cb);
        std::int64_t offset = 0;
        if (boot.mftCluster >= 0 && checkedMul(boot.mftCluster, bytesPerCluster, offset)) {
            mftOffset = offset;
            mftLocated_ = true;
            reporter->setStatus(u"boot sector is fine.Getting run of mft entry...");
            mftRuns = dataRunsOfRecordAt(mftOffset);
            reporter->setStatus(u"Got run...");
            if (!mftRuns.empty()) {
                needMftRuns_ = false;
                return true;
            }
        }
        // The boot sector is sound but its MFT record is not: search for it.
        mftLocated_ = false;
        mftRuns.clear();
    } else {
        bytesPerCluster = 4096;
    }
    return locateByScan();
}

bool ntfs::locateByScan() {
    reporter->setStatus(u"boot sector corrupt.Scanning for first mft entry...");
    mftLocated_ = false;
    mftOffset = 0;
    scanRecords(volumeSize, true, [&](std::int64_t offset, ByteView raw) {
        NtfsEntry e;
        decodeInto(e, raw, offset);
        const bool isMft = scratch_.name == u"$MFT";
        if (e.recordNumber < UINT32_MAX) scannedRecords_.push_back({e.recordNumber, offset});
        keepEntry(e);
        if (!isMft) return true;
        reporter->setStatus(u"found mft entry.getting its run ...");
        std::vector<ClusterRun> runs = dataRunsOfRecordAt(offset);
        reporter->setStatus(u"got run ...");
        if (runs.empty()) return true;
        // Without a boot sector the cluster size follows from where the
        // MFT's first run starts: that is where its own record lies.
        if (!boot.isNtfs || boot.clusterBytes() == 0) {
            const std::int64_t lcn = runs.front().startCluster;
            if (!runs.front().sparse && lcn > 0 && offset % lcn == 0) {
                const std::int64_t cb = offset / lcn;
                if (cb >= 512 && cb <= std::int64_t(kMaxClusterBytes) && (cb & (cb - 1)) == 0) bytesPerCluster = cb;
            }
        }
        mftRuns = std::move(runs);
        mftOffset = offset;
        mftLocated_ = true;
        needMftRuns_ = false;
        clearTable();
        scannedRecords_.clear();
        return false;
    });
    return mftLocated_;
}

void ntfs::scanRecords(std::int64_t end, bool reportProgress,
                       const std::function<bool(std::int64_t, ByteView)>& visit) {
    end = withinImage(end);
    if (!source || end <= 0) return;
    // Records are read whole: one that starts before the end may run past
    // it, as far as the image goes.
    std::int64_t readEnd = end;
    if (!checkedAdd(end, std::int64_t(kRecordBytes), readEnd)) readEnd = end;
    ChunkedScanOptions o;
    o.end = withinImage(readEnd);
    o.overlapBytes = std::uint32_t(kRecordBytes);
    o.poll = this;
    o.progress = reportProgress ? reporter : nullptr;
    chunkedScan(*source, o, [&](const ScanChunk& chunk) -> std::int64_t {
        const std::int64_t last = std::min(chunk.limit, end);
        std::int64_t at = chunk.offset;
        while (at < last) {
            ByteView record = chunk.bytes.sub(std::size_t(at - chunk.offset), kRecordBytes);
            if (looksLikeRecordHeader(record)) {
                if (!visit(at, record)) return kScanStop;
                at += std::int64_t(kRecordBytes);
            } else {
                at += kSectorBytes;
            }
        }
        // Where the next chunk goes on: a record read whole across the
        // border moves it by the record's second half.
        return at;
    });
}

void ntfs::extendMftRuns() {
    Record raw;
    if (!readRecord(mftOffset, raw) || !looksLikeRecordHeader(ByteView(raw.data(), raw.size()))) return;
    const Record r = applyFixups(ByteView(raw.data(), raw.size()));
    const ByteView rec(r.data(), r.size());
    for (const AttrHeader& a : walkAttributes(rec)) {
        if (a.type != kAttrAttributeList) continue;
        // MFT record numbers map to offsets through the runs known so far;
        // the extension records lie in the MFT's first extent.
        auto offsetOf = [this](std::uint64_t n) -> std::int64_t {
            std::uint64_t logical = 0;
            if (!checkedMul(n, std::uint64_t(kRecordBytes), logical)) return -1;
            for (const ClusterRun& run : mftRuns) {
                std::uint64_t bytes = 0;
                if (!checkedMul(run.clusterCount, std::uint64_t(bytesPerCluster), bytes)) return -1;
                if (logical < bytes) {
                    std::int64_t start = 0;
                    if (run.sparse || !checkedMul(run.startCluster, bytesPerCluster, start) || start < 0) return -1;
                    return start + std::int64_t(logical);
                }
                logical -= bytes;
            }
            return -1;
        };
        FileData whole;
        if (collectExtents(rec, decodeRecordHeader(rec).recordNumber, a, offsetOf, u"", whole) &&
            runClusters(whole.runs) > runClusters(mftRuns))
            mftRuns = std::move(whole.runs);
        return;
    }
}

void ntfs::collectMftRecords() {
    if (!mftLocated_ || pollStop()) return;
    if (bytesPerCluster <= 0) bytesPerCluster = 4096;
    if (needMftRuns_ && !entries_.empty()) {
        reporter->setStatus(u"getting run of mft...");
        mftOffset = entries_.front().recordOffset;
        mftRuns = dataRunsOfRecordAt(mftOffset);
        reporter->setStatus(u"got run...");
    }
    extendMftRuns();
    clearTable();
    // The MFT never holds more records than the volume has room for.
    const std::int64_t room = withinImage(volumeSize > 0 ? volumeSize : INT64_MAX);
    std::uint64_t maxSlots = std::uint64_t(room) / kRecordBytes;
    std::uint64_t clusters = runClusters(mftRuns);
    std::uint64_t slots = 0;
    if (!checkedMul(clusters, std::uint64_t(bytesPerCluster), slots)) slots = UINT64_MAX;
    slots = std::min(slots / kRecordBytes, maxSlots);
    // Table indices are 32 bits wide.
    slots = std::min<std::uint64_t>(slots, kNoLink / 2);
    // One reservation for the whole table: the slots, the orphan entry and
    // room for stream entries (a reservation not written to costs address
    // space only).
    entries_.reserve(std::size_t(slots) + 1 + std::size_t(slots) / 16);
    reporter->setProgressRange(0, std::int64_t(slots));

    std::vector<std::uint8_t> pending;  // MFT bytes not yet made into records
    std::vector<std::int64_t> pendingOffsets;  // volume offset of each 512-byte piece of pending
    std::vector<std::uint8_t> piece;
    auto emit = [&] {
        std::size_t used = 0;
        while (pending.size() - used >= kRecordBytes && entries_.size() < slots) {
            const std::int64_t offset = pendingOffsets[used / 512];
            NtfsEntry e;
            decodeInto(e, ByteView(pending.data() + used, kRecordBytes), offset);
            keepEntry(e);
            const std::int64_t n = std::int64_t(entries_.size());
            if (n % kReportEvery == 0) {
                reporter->setStatus(format16("parsing MFT entry %lld...", (long long)(n - 1)));
                reporter->setProgressPosition(n);
            }
            used += kRecordBytes;
        }
        pending.erase(pending.begin(), pending.begin() + std::ptrdiff_t(used));
        pendingOffsets.erase(pendingOffsets.begin(), pendingOffsets.begin() + std::ptrdiff_t(used / 512));
    };
    for (const ClusterRun& run : mftRuns) {
        if (entries_.size() >= slots) break;
        reporter->setStatus(format16("parsing %lld cluster of MFT run.", (long long)run.startCluster));
        if (pollStop()) break;
        std::uint64_t runBytes = 0;
        if (!checkedMul(run.clusterCount, std::uint64_t(bytesPerCluster), runBytes)) break;
        std::int64_t runStart = 0;
        const bool readable = !run.sparse && checkedMul(run.startCluster, bytesPerCluster, runStart) && runStart >= 0;
        for (std::uint64_t done = 0; done < runBytes && entries_.size() < slots;) {
            if (pollStop()) break;
            const std::size_t n = std::size_t(std::min<std::uint64_t>(kWalkPieceBytes, runBytes - done));
            piece.assign(n, 0);
            // A sparse run, or one that cannot be read, gives empty slots so
            // that later indices keep their record numbers.
            if (readable) readAt(*source, runStart + std::int64_t(done), piece.data(), std::uint32_t(n));
            pending.insert(pending.end(), piece.begin(), piece.end());
            for (std::size_t k = 0; k < n; k += 512)
                pendingOffsets.push_back(readable ? runStart + std::int64_t(done + k) : 0);
            done += n;
            emit();
        }
        if (pollStop()) break;
    }
    reporter->setProgressPosition(std::int64_t(entries_.size()));
}

}  // namespace salvage
