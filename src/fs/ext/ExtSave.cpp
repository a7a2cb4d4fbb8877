// Saving one file and the per-record texts of the file list.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

#include "browse/DisplayFormats.h"
#include "fs/ext/ext2Class.h"
#include "platform/OutputLimits.h"
#include "platform/Text.h"

namespace salvage {

using namespace ext;

namespace {

// Contiguous blocks read with one call while saving.
constexpr std::uint64_t kSaveChunkBytes = 1u << 20;

UnixNanos toNanos(std::uint32_t seconds, std::uint32_t nanos) {
    return UnixNanos(seconds) * 1000000000 + nanos;
}

// A host file name for a directory-entry name: no separators, no NULs, and
// never "." or "..".
std::filesystem::path safeName(const std::u16string& name) {
    std::u16string s = name;
    for (char16_t& c : s)
        if (c == u'/' || c == u'\\' || c == 0) c = u'_';
    if (s.empty() || s == u"." || s == u"..") s = u"_" + s;
    return pathFromUtf16(s);
}

bool writeAll(int fd, const std::uint8_t* data, std::uint64_t count, std::uint64_t offset) {
    while (count > 0) {
        ssize_t n = ::pwrite(fd, data, count, off_t(offset));
        if (n <= 0) return false;
        data += n;
        count -= std::uint64_t(n);
        offset += std::uint64_t(n);
    }
    return true;
}

}  // namespace

bool ext2Class::saveFileTo(const std::filesystem::path& path, const ExtEntry& entry, std::uint64_t* written) {
    if (written) *written = 0;
    std::vector<std::uint8_t> inode;
    bool inodeRead = geometry.blockSize && readInode(entry.inodeTableBlock, entry.slotInGroup, inode);
    InodeFields f = decodeInode(ByteView(inode));
    // Holes are left sparse, but a damaged size must not make an endless file.
    const std::uint64_t size = std::min(entry.size, maxWrittenFileBytes(volumeBytes));

    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    bool ok = inodeRead;
    ByteView area = ByteView(inode).sub(kInodeBlockArea, kInodeBlockAreaBytes);
    bool inlineData = (f.flags & kInodeFlagInlineData) ||
                      ((f.mode & kModeTypeMask) == kModeSymlink && !(f.flags & kInodeFlagExtents) &&
                       size < kInodeBlockAreaBytes);
    if (inlineData) {
        // Short link targets and inline data live in the block area itself.
        std::uint64_t n = std::min<std::uint64_t>(size, area.size());
        ok = writeAll(fd, area.data(), n, 0) && ok && n == size;
    } else if (inodeRead) {
        collectBlocks(ByteView(inode), geometry, limitsFor(size), blockReader(), blockList_);
        std::vector<std::uint8_t> buf;
        const std::uint64_t bs = geometry.blockSize;
        for (const BlockRun& run : blockList_) {
            if (pollStop()) { ok = false; break; }
            if (run.unwritten) continue;  // preallocated: stays a hole of zeros
            for (std::uint64_t done = 0; done < run.count;) {
                std::uint64_t n = std::min(run.count - done, std::max<std::uint64_t>(1, kSaveChunkBytes / bs));
                std::uint64_t fileOffset = (run.logical + done) * bs;
                std::uint64_t bytes = std::min(n * bs, size - std::min(size, fileOffset));
                std::uint64_t at = 0;
                if (bytes > 0) {
                    if (checkedMul(run.physical + done, bs, at) && readBytes(at, buf, n * bs)) {
                        if (!writeAll(fd, buf.data(), bytes, fileOffset)) ok = false;
                    } else {
                        ok = false;  // an unreadable block stays zeros at its place
                    }
                }
                done += n;
            }
        }
    }
    // Holes and a missing tail read back as zeros up to the file's size.
    if (::ftruncate(fd, off_t(std::min<std::uint64_t>(size, std::uint64_t(INT64_MAX)))) != 0) ok = false;
    ::close(fd);
    if (inodeRead)
        setFileTimes(path, toNanos(f.accessTime, f.accessNanos), toNanos(f.modificationTime, f.modificationNanos));
    if (written) *written = size;
    return ok;
}

SaveOutcome ext2Class::saveFile(RecordId id, const std::filesystem::path& folder) {
    SaveOutcome out;
    const ExtEntry* e = find(id);
    if (!e || e->isFolder()) return out;
    out.written = folder / safeName(name(id));
    out.ok = saveFileTo(out.written, *e, &out.bytes);
    return out;
}

ext2Class::Times ext2Class::formatTimes(const ExtEntry& entry) const {
    Times t;
    std::vector<std::uint8_t> inode;
    if (!geometry.blockSize || !readInode(entry.inodeTableBlock, entry.slotInGroup, inode)) return t;
    InodeFields f = decodeInode(ByteView(inode));
    t.creation = formatListTime(toNanos(f.changeTime, 0));
    t.access = formatListTime(toNanos(f.accessTime, 0));
    t.modification = formatListTime(toNanos(f.modificationTime, 0));
    static const char16_t* const tokens[9] = {u"-OE", u"-OW", u"-OR", u"-GE", u"-GW",
                                              u"-GR", u"-UE", u"-UW", u"-UR"};
    for (int bit = 0; bit < 9; ++bit)
        if (f.mode & (1u << bit)) t.attributes += tokens[bit];
    return t;
}

std::u16string ext2Class::formatSize(const ExtEntry& entry) const { return formatListSize(entry.size); }

std::u16string ext2Class::creationTimeText(RecordId id) const {
    const ExtEntry* e = find(id);
    return e ? formatTimes(*e).creation : std::u16string();
}
std::u16string ext2Class::accessTimeText(RecordId id) const {
    const ExtEntry* e = find(id);
    return e ? formatTimes(*e).access : std::u16string();
}
std::u16string ext2Class::modificationTimeText(RecordId id) const {
    const ExtEntry* e = find(id);
    return e ? formatTimes(*e).modification : std::u16string();
}
std::u16string ext2Class::attributeText(RecordId id) const {
    const ExtEntry* e = find(id);
    return e ? formatTimes(*e).attributes : std::u16string();
}
std::u16string ext2Class::sizeText(RecordId id) const {
    const ExtEntry* e = find(id);
    return e ? formatSize(*e) : std::u16string();
}
std::uint64_t ext2Class::sizeBytes(RecordId id) const {
    const ExtEntry* e = find(id);
    return e ? e->size : 0;
}

RecordTimes ext2Class::times(RecordId id) const {
    RecordTimes t;
    const ExtEntry* e = find(id);
    std::vector<std::uint8_t> inode;
    if (!e || !geometry.blockSize || !readInode(e->inodeTableBlock, e->slotInGroup, inode)) return t;
    InodeFields f = decodeInode(ByteView(inode));
    t.creation = toNanos(f.changeTime, f.changeNanos);
    t.access = toNanos(f.accessTime, f.accessNanos);
    t.modification = toNanos(f.modificationTime, f.modificationNanos);
    return t;
}

RecordMeta ext2Class::meta(RecordId id) const {
    RecordMeta m;
    const ExtEntry* e = find(id);
    std::vector<std::uint8_t> inode;
    if (!e || !geometry.blockSize || !readInode(e->inodeTableBlock, e->slotInGroup, inode)) return m;
    InodeFields f = decodeInode(ByteView(inode));
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
