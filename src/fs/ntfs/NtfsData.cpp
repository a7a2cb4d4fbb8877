// A file's data: the unnamed $DATA stream (or, for a stream entry, the named
// one) from the base record and every extent its attribute list names, read
// plain, sparse or LZNT1 compressed.
#include <algorithm>
#include <cstring>

#include "fs/ntfs/Lznt1.h"
#include "fs/ntfs/ntfs.h"
#include "platform/OutputLimits.h"
#include "platform/Text.h"

namespace salvage {

using namespace ntfs_disk;

namespace {
// An attribute list larger than this is damage (a full one holds a few
// thousand entries).
constexpr std::uint64_t kMaxAttributeListBytes = 1u << 20;
// Compression units above this size are not NTFS's (16 clusters of at most
// 4 KiB); such a stream is read as stored.
constexpr std::uint64_t kMaxUnitBytes = 4u << 20;

// Takes the $DATA header of the stream's first extent.
void takeFirstExtent(const AttrHeader& a, FileData& out) {
    out.realSize = a.realSize;
    out.compressionUnit = a.compressionUnit;
    out.compressed = a.compressed();
    out.encrypted = a.encrypted();
}

// Whether a $DATA attribute is the stream wanted (empty: the unnamed one).
bool isStream(ByteView record, const AttrHeader& a, std::u16string_view stream) {
    if (stream.empty()) return a.nameLength == 0;
    return a.nameLength == stream.size() && attributeName(record, a) == stream;
}

// Whether an attribute list entry names the stream wanted: its name's
// length is at byte 6, its offset in the entry at byte 7.
bool listEntryIsStream(ByteView entry, std::u16string_view stream) {
    const std::size_t units = u8(entry, 6);
    if (units != stream.size()) return false;
    if (units == 0) return true;
    const ByteView name = entry.sub(u8(entry, 7), units * 2);
    return name.size() == units * 2 && utf16leToString(name.data(), units) == stream;
}

// Takes a resident value from the fixed-up record at volume offset
// `recordAt`.
void takeResident(ByteView record, const AttrHeader& a, std::int64_t recordAt, FileData& out) {
    ByteView v = residentValue(record, a);
    out.present = out.resident = true;
    out.realSize = std::int64_t(v.size());
    // A value offset past the attribute leaves nothing to place (and no
    // pointer to measure from).
    if (v.empty()) return;
    out.residentBytes.assign(v.data(), v.data() + v.size());
    const std::size_t at = std::size_t(v.data() - record.data());
    // Fix-ups replace the last two bytes of every 512-byte stride.
    bool coversFixup = false;
    for (std::size_t end = 510; end < at + v.size() && !coversFixup; end += 512)
        coversFixup = end + 2 > at;
    if (!coversFixup && recordAt >= 0) out.residentOffset = recordAt + std::int64_t(at);
}
}  // namespace

std::int64_t ntfs::dataRecordOffset(const NtfsEntry& e) const {
    if (e.baseReference != 0) {
        const std::int64_t base = recordOffsetOf(e.baseReference);
        if (base >= 0) return base;
    }
    return e.recordOffset;
}

FileData ntfs::describeFile(RecordId id) const {
    FileData out;
    const NtfsEntry* e = rec(id);
    if (!e || !e->isFile() || id == orphanIndex_) return out;
    // A stream entry reads its file's records; its name picks the stream.
    const std::u16string_view stream = streamOf(id) != kNoLink ? nameOf(*e) : std::u16string_view();
    Record raw;
    const std::int64_t at = dataRecordOffset(*e);
    if (!readRecord(at, raw)) return out;
    const Record r = applyFixups(ByteView(raw.data(), raw.size()));
    const ByteView base(r.data(), r.size());
    const std::vector<AttrHeader> attrs = walkAttributes(base);
    const AttrHeader* list = nullptr;
    for (const AttrHeader& a : attrs) {
        if (a.type == kAttrAttributeList && !list) list = &a;
        // The file's content is its unnamed stream; named streams (alternate
        // data streams) never replace it, and are entries of their own.
        if (a.type != kAttrData || out.present || !isStream(base, a, stream)) continue;
        if (!a.nonResident) takeResident(base, a, at, out);
        else if (a.startVcn == 0 && a.lastVcn >= 0) {
            out.present = true;
            takeFirstExtent(a, out);
            out.runs = decodeRunList(runListBytes(base, a), std::uint64_t(a.lastVcn) + 1);
        }
    }
    if (list && !out.resident)
        collectExtents(base, decodeRecordHeader(base).recordNumber, *list,
                       [this](std::uint64_t n) { return recordOffsetOf(n); }, stream, out);
    return out;
}

bool ntfs::collectExtents(ByteView base, std::uint64_t baseNumber, const AttrHeader& list,
                          const std::function<std::int64_t(std::uint64_t)>& offsetOf, std::u16string_view stream,
                          FileData& out) const {
    std::vector<std::uint8_t> bytes;
    if (!list.nonResident) {
        ByteView v = residentValue(base, list);
        bytes.assign(v.data(), v.data() + v.size());
    } else {
        if (list.lastVcn < list.startVcn) return false;
        const auto runs = decodeRunList(runListBytes(base, list), std::uint64_t(list.lastVcn - list.startVcn) + 1);
        const std::uint64_t size = std::min<std::uint64_t>(std::uint64_t(std::max<std::int64_t>(0, list.realSize)),
                                                           kMaxAttributeListBytes);
        FileData listData;
        listData.present = true;
        listData.runs = runs;
        listData.realSize = std::int64_t(size);
        MemorySink sink;
        ContentStream listStream(sink, source, size);
        streamData(listData, listStream);
        bytes = std::move(sink.bytes);
    }
    struct Extent {
        std::int64_t startVcn;
        std::uint64_t record;
    };
    std::vector<Extent> extents;
    const ByteView view(bytes);
    for (std::size_t pos = 0; view.has(pos, 26);) {
        const std::uint32_t type = le32(view, pos);
        const std::uint16_t length = le16(view, pos + 4);
        if (type == kAttrEnd || type == 0 || length < 26) break;
        if (type == kAttrData && listEntryIsStream(view.sub(pos, length), stream))
            extents.push_back({sle64(view, pos + 8), le48(view, pos + 16)});
        pos += length;
    }
    if (extents.empty()) return false;
    std::stable_sort(extents.begin(), extents.end(), [](const Extent& a, const Extent& b) { return a.startVcn < b.startVcn; });
    FileData built;
    std::uint64_t vcn = 0;
    for (std::size_t i = 0; i < extents.size(); ++i) {
        if (i > 0 && extents[i].startVcn == extents[i - 1].startVcn) continue;
        Record raw;
        ByteView rec = base;
        Record fixed;
        std::int64_t recAt = -1;
        if (extents[i].record != baseNumber) {
            recAt = offsetOf(extents[i].record);
            if (!readRecord(recAt, raw)) continue;
            if (!looksLikeRecordHeader(ByteView(raw.data(), raw.size()))) continue;
            fixed = applyFixups(ByteView(raw.data(), raw.size()));
            rec = ByteView(fixed.data(), fixed.size());
        }
        for (const AttrHeader& a : walkAttributes(rec)) {
            if (a.type != kAttrData || !isStream(rec, a, stream)) continue;
            // A whole stream held resident in an extension record.
            if (!a.nonResident && extents.size() == 1 && recAt >= 0) {
                takeResident(rec, a, recAt, built);
                break;
            }
            if (!a.nonResident || a.startVcn != extents[i].startVcn) continue;
            // Extents must follow one another; an overlapping one is damage.
            if (a.startVcn < 0 || std::uint64_t(a.startVcn) < vcn || a.lastVcn < a.startVcn) break;
            if (a.startVcn == 0) {
                built.present = true;
                takeFirstExtent(a, built);
            }
            if (std::uint64_t(a.startVcn) > vcn) {
                ClusterRun hole;
                hole.sparse = true;
                hole.clusterCount = std::uint64_t(a.startVcn) - vcn;
                built.runs.push_back(hole);
            }
            const auto runs = decodeRunList(runListBytes(rec, a), std::uint64_t(a.lastVcn - a.startVcn) + 1);
            built.runs.insert(built.runs.end(), runs.begin(), runs.end());
            vcn = std::uint64_t(a.startVcn) + runClusters(runs);
            break;
        }
    }
    if (!built.present) return false;
    out = std::move(built);
    return true;
}

void ntfs::streamData(const FileData& data, ContentStream& out) const {
    if (!data.present || data.realSize <= 0) return;
    if (data.resident) {
        out.bytes(data.residentBytes.data(), data.residentBytes.size(), true, data.residentOffset,
                  ByteRun::Kind::Resident);
        return;
    }
    const std::uint64_t cb = bytesPerCluster > 0 ? std::uint64_t(bytesPerCluster) : 4096;
    const std::uint64_t volumeEnd = volumeSize > 0 ? std::uint64_t(volumeSize) : UINT64_MAX;
    // The volume byte offset of a run of clusters, when it lies inside the volume.
    auto placeOf = [&](std::int64_t lcn, std::uint64_t clusters) -> std::optional<std::int64_t> {
        std::uint64_t at = 0, len = 0, end = 0;
        if (lcn < 0 || !checkedMul(std::uint64_t(lcn), cb, at) || !checkedMul(clusters, cb, len) ||
            !checkedAdd(at, len, end) || end > volumeEnd || at > std::uint64_t(INT64_MAX))
            return std::nullopt;
        return std::int64_t(at);
    };

    const std::uint64_t unitClusters =
        data.compressionUnit < 16 ? std::uint64_t(1) << data.compressionUnit : 0;
    if (!data.compressed || unitClusters <= 1 || unitClusters * cb > kMaxUnitBytes) {
        for (const ClusterRun& run : data.runs) {
            if (out.done()) break;
            std::uint64_t bytes = 0;
            if (!checkedMul(run.clusterCount, cb, bytes)) bytes = UINT64_MAX;
            if (run.sparse) {
                out.sparse(bytes);
                continue;
            }
            if (stopRequested.load()) return;
            if (const auto at = placeOf(run.startCluster, run.clusterCount)) out.read(*at, bytes);
            else out.missing(bytes, cause::kOutsideVolume);
        }
        return;
    }

    // Compressed: unit by unit. A unit whose last cluster is allocated is
    // stored as it is; one with fewer clusters holds LZNT1 data; one with
    // none is zeros.
    const std::uint64_t unitBytes = unitClusters * cb;
    std::vector<std::int64_t> unit;  // cluster numbers, -1 for sparse
    std::vector<std::uint8_t> in(static_cast<std::size_t>(unitBytes)), outBuf(static_cast<std::size_t>(unitBytes));
    auto flush = [&]() {
        if (unit.empty()) return;
        std::size_t last = 0;  // 1-based position of the last allocated cluster
        for (std::size_t i = 0; i < unit.size(); ++i)
            if (unit[i] >= 0) last = i + 1;
        if (last == 0) {
            out.sparse(unit.size() * cb);
            unit.clear();
            return;
        }
        bool readOk = true;
        for (std::size_t i = 0; i < last; ++i) {
            const auto at = unit[i] >= 0 ? placeOf(unit[i], 1) : std::nullopt;
            if (at) readOk = out.readInto(*at, in.data() + i * cb, cb) && readOk;
            else {
                std::memset(in.data() + i * cb, 0, std::size_t(cb));
                if (unit[i] >= 0) readOk = false;  // a cluster outside the volume
            }
        }
        const auto first = unit[0] >= 0 ? placeOf(unit[0], 1) : std::nullopt;
        if (last == unitClusters || last == unit.size()) {
            out.bytes(in.data(), last * cb, readOk, first, ByteRun::Kind::Data);
        } else {
            const Lznt1Result r = decompressLznt1(in.data(), last * cb, outBuf.data(), outBuf.size());
            // The unit stands for a whole unit of the file; what the stream
            // did not produce is zeros, and damage when the stream was bad.
            std::memset(outBuf.data() + r.produced, 0, outBuf.size() - r.produced);
            const std::uint64_t whole = unit.size() * cb;
            if (r.error) {
                out.bytes(outBuf.data(), r.produced, readOk, first, ByteRun::Kind::Compressed, last * cb);
                out.missing(whole - std::min<std::uint64_t>(whole, r.produced), cause::kUndecodable);
            } else {
                out.bytes(outBuf.data(), whole, readOk, first, ByteRun::Kind::Compressed, last * cb);
            }
        }
        unit.clear();
    };
    for (const ClusterRun& run : data.runs) {
        for (std::uint64_t k = 0; k < run.clusterCount && !out.done(); ++k) {
            unit.push_back(run.sparse ? -1 : run.startCluster + std::int64_t(k));
            if (unit.size() == unitClusters) {
                if (stopRequested.load()) return;
                flush();
            }
        }
        if (out.done()) break;
    }
    if (!out.done()) flush();
}

std::int64_t ntfs::displayedSize(RecordId id) const {
    const NtfsEntry* e = rec(id);
    if (!e || !e->isFile() || id == orphanIndex_) return 0;
    if (e->dataSize >= 0) return e->dataSize;
    if (!e->hasAttributeList && e->baseReference == 0) return 0;
    const FileData d = describeFile(id);
    return d.present ? d.realSize : 0;
}

ContentResult ntfs::readContent(RecordId id, ContentSink& sink) {
    ContentResult res;
    const NtfsEntry* e = rec(id);
    if (!e || !e->hasName) {
        res.reason = "no such file";
        return res;
    }
    if (e->isDirectory()) {
        res.readable = true;  // a folder saved as a file has no content
        return res;
    }
    if (!e->isFile()) {
        res.reason = "not a valid entry";
        return res;
    }
    if (mode != RecoveryMode::Standard) res.origin = ContentOrigin::Scan;
    else if (!e->inUse()) res.origin = ContentOrigin::DeletedChainIntact;
    const FileData data = describeFile(id);
    res.readable = true;
    // Without a readable $DATA stream the listed size is what is missing.
    res.expectedSize = data.present ? std::uint64_t(std::max<std::int64_t>(0, data.realSize)) : sizeBytes(id);
    ContentStream out(sink, source, res.expectedSize);
    streamData(data, out);
    out.finish(data.present ? cause::kNoRuns : cause::kNoRecord);
    res.stopped = out.refused() || stopRequested.load();
    return res;
}

SaveOutcome ntfs::saveFile(RecordId id, const std::filesystem::path& folder) {
    if (const NtfsEntry* e = rec(id); e && e->hasName) {
        if (e->isDirectory())
            reporter->message(format16("This is  %s directory .Please specify file names ",
                                       toUtf8(std::u16string(nameOf(*e))).c_str()),
                              u"", MessageIcon::Information);
        else if (!e->isFile())
            reporter->message(u"not a valid entry...", u"", MessageIcon::Information);
    }
    return VolumeParser::saveFile(id, folder);
}

}  // namespace salvage
