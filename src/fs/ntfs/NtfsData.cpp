// A file's data: the unnamed $DATA stream from the base record and every
// extent its attribute list names, written out plain, sparse or LZNT1
// compressed; and the one-file save with the record's times.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "fs/fat/SafeOutput.h"
#include "fs/ntfs/Lznt1.h"
#include "fs/ntfs/ntfs.h"
#include "platform/OutputLimits.h"
#include "platform/Text.h"

namespace salvage {

using namespace ntfs_disk;

namespace {
// Bytes read with one call on the plain path.
constexpr std::uint64_t kPieceBytes = 1u << 20;
// An attribute list larger than this is damage (a full one holds a few
// thousand entries).
constexpr std::uint64_t kMaxAttributeListBytes = 1u << 20;
// Compression units above this size are not NTFS's (16 clusters of at most
// 4 KiB); such a stream is written as stored.
constexpr std::uint64_t kMaxUnitBytes = 4u << 20;

class FileSink : public DataSink {
public:
    explicit FileSink(std::FILE* f) : file_(f) {}
    bool write(const std::uint8_t* data, std::size_t count) override {
        if (count && std::fwrite(data, 1, count, file_) != count) {
            error = errno ? std::strerror(errno) : "write failed";
            return false;
        }
        return true;
    }
    std::string error;

private:
    std::FILE* file_;
};

// Counts and clips what reaches a sink at the stream's size.
class Clipper {
public:
    Clipper(DataSink& sink, std::uint64_t limit) : sink_(sink), limit_(limit) {}
    // False once the limit is reached or the sink fails.
    bool put(const std::uint8_t* data, std::uint64_t count) {
        const std::uint64_t n = std::min(count, limit_ - written_);
        if (n && !sink_.write(data, std::size_t(n))) {
            failed_ = true;
            return false;
        }
        written_ += n;
        return written_ < limit_;
    }
    bool zeros(std::uint64_t count) {
        static const std::vector<std::uint8_t> zero(kPieceBytes, 0);
        while (count > 0) {
            const std::uint64_t n = std::min<std::uint64_t>(count, zero.size());
            if (!put(zero.data(), n)) return false;
            count -= n;
        }
        return written_ < limit_;
    }
    bool done() const { return failed_ || written_ >= limit_; }
    std::uint64_t written() const { return written_; }

private:
    DataSink& sink_;
    std::uint64_t limit_;
    std::uint64_t written_ = 0;
    bool failed_ = false;
};

// Takes the $DATA header of the stream's first extent.
void takeFirstExtent(const AttrHeader& a, FileData& out) {
    out.realSize = a.realSize;
    out.compressionUnit = a.compressionUnit;
    out.compressed = a.compressed();
    out.encrypted = a.encrypted();
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
    Record raw;
    if (!readRecord(dataRecordOffset(*e), raw)) return out;
    const Record r = applyFixups(ByteView(raw.data(), raw.size()));
    const ByteView base(r.data(), r.size());
    const std::vector<AttrHeader> attrs = walkAttributes(base);
    const AttrHeader* list = nullptr;
    for (const AttrHeader& a : attrs) {
        if (a.type == kAttrAttributeList && !list) list = &a;
        // The file's content is its unnamed stream; named streams (alternate
        // data streams) never replace it.
        if (a.type != kAttrData || a.nameLength != 0 || out.present) continue;
        if (!a.nonResident) {
            ByteView v = residentValue(base, a);
            out.present = out.resident = true;
            out.residentBytes.assign(v.data(), v.data() + v.size());
            out.realSize = std::int64_t(v.size());
        } else if (a.startVcn == 0 && a.lastVcn >= 0) {
            out.present = true;
            takeFirstExtent(a, out);
            out.runs = decodeRunList(runListBytes(base, a), std::uint64_t(a.lastVcn) + 1);
        }
    }
    if (list && !out.resident)
        collectExtents(base, decodeRecordHeader(base).recordNumber, *list,
                       [this](std::uint64_t n) { return recordOffsetOf(n); }, out);
    return out;
}

bool ntfs::collectExtents(ByteView base, std::uint64_t baseNumber, const AttrHeader& list,
                          const std::function<std::int64_t(std::uint64_t)>& offsetOf, FileData& out) const {
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
        class VectorSink : public DataSink {
        public:
            explicit VectorSink(std::vector<std::uint8_t>& v) : v_(v) {}
            bool write(const std::uint8_t* d, std::size_t n) override {
                v_.insert(v_.end(), d, d + n);
                return true;
            }
            std::vector<std::uint8_t>& v_;
        } sink(bytes);
        writeData(listData, sink);
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
        if (type == kAttrData && u8(view, pos + 6) == 0)
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
        if (extents[i].record != baseNumber) {
            if (!readRecord(offsetOf(extents[i].record), raw)) continue;
            if (!looksLikeRecordHeader(ByteView(raw.data(), raw.size()))) continue;
            fixed = applyFixups(ByteView(raw.data(), raw.size()));
            rec = ByteView(fixed.data(), fixed.size());
        }
        for (const AttrHeader& a : walkAttributes(rec)) {
            if (a.type != kAttrData || a.nameLength != 0 || !a.nonResident || a.startVcn != extents[i].startVcn)
                continue;
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

std::uint64_t ntfs::writeData(const FileData& data, DataSink& sink) const {
    if (!data.present || data.realSize <= 0) return 0;
    if (data.resident) {
        Clipper clip(sink, std::uint64_t(data.realSize));
        clip.put(data.residentBytes.data(), data.residentBytes.size());
        return clip.written();
    }
    const std::uint64_t cb = bytesPerCluster > 0 ? std::uint64_t(bytesPerCluster) : 4096;
    const std::uint64_t cap = maxWrittenFileBytes(std::uint64_t(withinImage(std::max<std::int64_t>(volumeSize, 0))));
    Clipper clip(sink, std::min(std::uint64_t(data.realSize), cap));
    std::vector<std::uint8_t> buf;
    // Reads `clusters` clusters from lcn into buf at offset (zeros where the
    // read fails or the cluster lies outside the volume).
    auto readClusters = [&](std::int64_t lcn, std::uint64_t clusters, std::uint8_t* at) {
        std::memset(at, 0, std::size_t(clusters * cb));
        std::int64_t offset = 0;
        if (lcn < 0 || !checkedMul(lcn, std::int64_t(cb), offset)) return;
        readAt(*source, offset, at, std::uint32_t(clusters * cb));
    };

    const std::uint64_t unitClusters =
        data.compressionUnit < 16 ? std::uint64_t(1) << data.compressionUnit : 0;
    if (!data.compressed || unitClusters <= 1 || unitClusters * cb > kMaxUnitBytes) {
        for (const ClusterRun& run : data.runs) {
            if (clip.done()) break;
            if (run.sparse) {
                std::uint64_t bytes = 0;
                if (!checkedMul(run.clusterCount, cb, bytes)) bytes = UINT64_MAX;
                clip.zeros(bytes);
                continue;
            }
            for (std::uint64_t k = 0; k < run.clusterCount && !clip.done();) {
                if (stopRequested.load()) return clip.written();
                const std::uint64_t n = std::min<std::uint64_t>(run.clusterCount - k, std::max<std::uint64_t>(1, kPieceBytes / cb));
                buf.resize(std::size_t(n * cb));
                readClusters(run.startCluster + std::int64_t(k), n, buf.data());
                clip.put(buf.data(), n * cb);
                k += n;
            }
        }
        return clip.written();
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
            clip.zeros(unit.size() * cb);
        } else {
            for (std::size_t i = 0; i < last; ++i) {
                if (unit[i] >= 0) readClusters(unit[i], 1, in.data() + i * cb);
                else std::memset(in.data() + i * cb, 0, std::size_t(cb));
            }
            if (last == unitClusters || last == unit.size()) {
                clip.put(in.data(), last * cb);
            } else {
                const Lznt1Result r = decompressLznt1(in.data(), last * cb, outBuf.data(), outBuf.size());
                // The unit stands for a whole unit of the file; what the
                // stream did not produce is zeros.
                std::memset(outBuf.data() + r.produced, 0, outBuf.size() - r.produced);
                clip.put(outBuf.data(), unit.size() * cb);
            }
        }
        unit.clear();
    };
    for (const ClusterRun& run : data.runs) {
        for (std::uint64_t k = 0; k < run.clusterCount && !clip.done(); ++k) {
            unit.push_back(run.sparse ? -1 : run.startCluster + std::int64_t(k));
            if (unit.size() == unitClusters) {
                if (stopRequested.load()) return clip.written();
                flush();
            }
        }
        if (clip.done()) break;
    }
    if (!clip.done()) flush();
    return clip.written();
}

std::int64_t ntfs::displayedSize(RecordId id) const {
    const NtfsEntry* e = rec(id);
    if (!e || !e->isFile() || id == orphanIndex_) return 0;
    if (e->dataSize >= 0) return e->dataSize;
    if (!e->hasAttributeList && e->baseReference == 0) return 0;
    const FileData d = describeFile(id);
    return d.present ? d.realSize : 0;
}

SaveOutcome ntfs::saveFile(RecordId id, const std::filesystem::path& folder) {
    SaveOutcome out;
    const NtfsEntry* e = rec(id);
    if (!e || !e->hasName) return out;
    const std::filesystem::path path = fat::safeOutputPath(folder, e->name);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return out;
    out.written = path;
    if (!e->isFile()) {
        std::fclose(f);
        reporter->message(u"not a valid entry...", u"", MessageIcon::Information);
        return out;
    }
    out.ok = true;
    if (e->kind == 'D') {
        reporter->message(format16("This is  %s directory .Please specify file names ", toUtf8(e->name).c_str()),
                          u"", MessageIcon::Information);
    } else {
        FileSink sink(f);
        out.bytes = writeData(describeFile(id), sink);
        if (!sink.error.empty()) {
            std::fclose(f);
            reporter->message(format16("Exception :  %s   ", sink.error.c_str()), u"", MessageIcon::Information);
            return out;
        }
    }
    std::fclose(f);
    const RecordTimes t = times(id);
    setFileTimes(path, t.access, t.modification);
    return out;
}

}  // namespace salvage
