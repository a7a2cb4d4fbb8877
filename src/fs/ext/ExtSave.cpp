// Reading one file's content and the per-record texts of the file list.
#include <algorithm>

#include "browse/DisplayFormats.h"
#include "fs/ext/ext2Class.h"
#include "platform/OutputLimits.h"
#include "platform/Text.h"

namespace salvage {

using namespace ext;

namespace {


UnixNanos toNanos(std::uint32_t seconds, std::uint32_t nanos) {
    return UnixNanos(seconds) * 1000000000 + nanos;
}

}  // namespace

ContentResult ext2Class::readContent(RecordId id, ContentSink& sink) {
    ContentResult res;
    const ExtEntry* e = find(id);
    if (!e || e->isFolder()) {
        res.reason = e ? "a folder" : "no such file";
        return res;
    }
    res.readable = true;
    res.expectedSize = e->size;
    ContentStream out(sink, source, e->size);
    std::vector<std::uint8_t> inode;
    if (!geometry.blockSize || !readInode(e->inodeTableBlock, e->slotInGroup, inode)) {
        out.finish(cause::kNoRecord);
        return res;
    }
    InodeFields f = decodeInode(ByteView(inode));
    ByteView area = ByteView(inode).sub(kInodeBlockArea, kInodeBlockAreaBytes);
    const bool inlineData = (f.flags & kInodeFlagInlineData) ||
                            ((f.mode & kModeTypeMask) == kModeSymlink && !(f.flags & kInodeFlagExtents) &&
                             e->size < kInodeBlockAreaBytes);
    if (inlineData) {
        // Short link targets and inline data live in the block area itself.
        const std::uint64_t n = std::min<std::uint64_t>(e->size, area.size());
        const std::uint64_t at = e->inodeTableBlock * geometry.blockSize +
                                 std::uint64_t(e->slotInGroup) * geometry.inodeSize + kInodeBlockArea;
        out.bytes(area.data(), n, true, std::int64_t(at), ByteRun::Kind::Resident);
        out.finish(cause::kNoRuns);
        return res;
    }
    // Holes are left sparse, but a damaged size must not make an endless walk.
    const std::uint64_t size = std::min(e->size, maxWrittenFileBytes(volumeBytes));
    collectBlocks(ByteView(inode), geometry, limitsFor(size), blockReader(), blockList_);
    const std::uint64_t bs = geometry.blockSize;
    for (const BlockRun& run : blockList_) {
        if (out.done()) break;
        if (pollStop()) {
            res.stopped = true;
            return res;
        }
        std::uint64_t fileOffset = 0, at = 0, bytes = 0;
        if (!checkedMul(run.logical, bs, fileOffset) || !checkedMul(run.count, bs, bytes)) break;
        if (fileOffset < out.offset()) continue;  // overlapping runs: the first one counts
        out.sparse(fileOffset - out.offset());    // a hole between runs
        if (run.unwritten) {
            out.sparse(bytes);  // preallocated: zeros
            continue;
        }
        if (!checkedMul(run.physical, bs, at) || at > std::uint64_t(INT64_MAX)) {
            out.missing(bytes, cause::kOutsideVolume);
            continue;
        }
        out.read(std::int64_t(at), bytes);
    }
    // Holes at the end read back as zeros up to the file's size.
    if (!out.done()) out.sparse(out.remaining());
    res.stopped = out.refused();
    return res;
}

std::u16string ext2Class::formatSize(const ExtEntry& entry) const { return formatListSize(entry.size); }

// The list shows whole seconds: the inode change time stands in the
// creation column.
std::u16string ext2Class::creationTimeText(RecordId id) const {
    const ExtEntry* e = find(id);
    return e ? formatListTime(toNanos(e->changeTime, 0)) : std::u16string();
}
std::u16string ext2Class::accessTimeText(RecordId id) const {
    const ExtEntry* e = find(id);
    return e ? formatListTime(toNanos(e->accessTime, 0)) : std::u16string();
}
std::u16string ext2Class::modificationTimeText(RecordId id) const {
    const ExtEntry* e = find(id);
    return e ? formatListTime(toNanos(e->modificationTime, 0)) : std::u16string();
}
std::u16string ext2Class::attributeText(RecordId id) const {
    const ExtEntry* e = find(id);
    if (!e) return std::u16string();
    static const char16_t* const tokens[9] = {u"-OE", u"-OW", u"-OR", u"-GE", u"-GW",
                                              u"-GR", u"-UE", u"-UW", u"-UR"};
    std::u16string out;
    for (int bit = 0; bit < 9; ++bit)
        if (e->inodeMode & (1u << bit)) out += tokens[bit];
    return out;
}
std::u16string ext2Class::sizeText(RecordId id) const {
    const ExtEntry* e = find(id);
    return e ? formatSize(*e) : std::u16string();
}
std::uint64_t ext2Class::sizeBytes(RecordId id) const {
    const ExtEntry* e = find(id);
    return e ? e->size : 0;
}

std::optional<ext::InodeFields> ext2Class::inodeFields(RecordId id) const {
    const ExtEntry* e = find(id);
    std::vector<std::uint8_t> inode;
    if (!e || !geometry.blockSize || !readInode(e->inodeTableBlock, e->slotInGroup, inode)) return std::nullopt;
    return decodeInode(ByteView(inode));
}

RecordTimes ext2Class::times(RecordId id) const {
    RecordTimes t;
    const ExtEntry* e = find(id);
    if (!e || !geometry.blockSize) return t;
    t.creation = toNanos(e->changeTime, e->changeNanos);
    t.access = toNanos(e->accessTime, e->accessNanos);
    t.modification = toNanos(e->modificationTime, e->modificationNanos);
    return t;
}

RecordMeta ext2Class::meta(RecordId id) const {
    RecordMeta m;
    const auto fields = inodeFields(id);
    if (!fields) return m;
    const InodeFields& f = *fields;
    m.access = toNanos(f.accessTime, f.accessNanos);
    m.modification = toNanos(f.modificationTime, f.modificationNanos);
    m.change = toNanos(f.changeTime, f.changeNanos);
    // Only ext4 keeps the creation time up to date; on ext2 and ext3 volumes
    // the field holds whatever the formatter wrote. Extents, 64-bit block
    // numbers, flexible groups or the extra inode size mark an ext4 volume.
    const bool ext4 = (geometry.incompat & (0x0040 | 0x0080 | 0x0200)) || (geometry.roCompat & 0x0040);
    if (f.creationTime && ext4) m.creation = toNanos(*f.creationTime, f.creationNanos);
    m.mode = f.mode;
    m.uid = f.uid;
    m.gid = f.gid;
    return m;
}

}  // namespace salvage
