// HFSP: what browsing and saving ask of an entry: names, children, texts,
// times, and writing a file's data fork.
#include <algorithm>
#include <cstdio>

#include "browse/DisplayFormats.h"
#include "fs/hfsplus/HFSP.h"
#include "platform/Text.h"

namespace salvage {

using namespace hfsp;

namespace {
// Data is read in runs of up to this many bytes.
constexpr std::uint64_t kReadChunkBytes = 1u << 20;

// A host file name for an on-disk name: no separators, NULs or dot names.
std::u16string hostName(const std::u16string& name) {
    if (name.empty() || name == u"." || name == u"..") return u"_" + name;
    std::u16string out = name;
    for (char16_t& c : out)
        if (c == u'/' || c == u'\0') c = u'_';
    return out;
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
}  // namespace

const HfsEntry* HFSP::entry(RecordId id) const {
    if (id <= 0 || id > RecordId(UINT32_MAX)) return nullptr;
    auto it = entryMap.find(std::uint32_t(id));
    return it == entryMap.end() ? nullptr : &it->second;
}

bool HFSP::isValidRecord(RecordId id) const { return entry(id) != nullptr; }

bool HFSP::isDirectory(RecordId id) const {
    const HfsEntry* e = entry(id);
    return e && e->kind == kFolder;
}

std::u16string HFSP::name(RecordId id) const {
    const HfsEntry* e = entry(id);
    return e ? e->name : std::u16string();
}

bool HFSP::hasChildren(RecordId id) const {
    const HfsEntry* e = entry(id);
    return e && e->firstChild != 0;
}

void HFSP::forEachChild(RecordId id, const std::function<bool(RecordId)>& visit) const {
    const HfsEntry* e = entry(id);
    if (!e) return;
    // Chains are built without loops; the bound keeps that a guarantee.
    std::size_t steps = 0;
    for (std::uint32_t c = e->firstChild; c != 0 && steps <= entryMap.size(); ++steps) {
        const HfsEntry* child = entry(c);
        if (!child || !visit(c)) return;
        c = child->nextSibling;
    }
}

std::u16string HFSP::creationTimeText(RecordId id) const {
    const HfsEntry* e = entry(id);
    return e && e->kind == kFile ? formatListTime(hfsDateToUnixNanos(e->createDate)) : std::u16string();
}

std::u16string HFSP::accessTimeText(RecordId id) const {
    const HfsEntry* e = entry(id);
    return e && e->kind == kFile ? formatListTime(hfsDateToUnixNanos(e->accessDate)) : std::u16string();
}

std::u16string HFSP::modificationTimeText(RecordId id) const {
    const HfsEntry* e = entry(id);
    return e && e->kind == kFile ? formatListTime(hfsDateToUnixNanos(e->contentModDate)) : std::u16string();
}

std::u16string HFSP::sizeText(RecordId id) const {
    const HfsEntry* e = entry(id);
    return e ? formatListSize(e->size) : std::u16string();
}

std::u16string HFSP::attributeText(RecordId id) const {
    const HfsEntry* e = entry(id);
    if (!e || e->kind != kFile) return {};
    static constexpr struct {
        std::uint16_t bit;
        const char16_t* token;
    } kTokens[] = {{0x040, u"-Owner:X"}, {0x080, u"-Owner:W"}, {0x100, u"-Owner:R"},
                   {0x001, u"-OX"},      {0x002, u"-OW"},      {0x004, u"-OR"},
                   {0x008, u"-GX"},      {0x010, u"-GW"},      {0x020, u"-GR"}};
    std::u16string out;
    for (const auto& t : kTokens)
        if (e->fileMode & t.bit) out += t.token;
    return out;
}

std::uint64_t HFSP::sizeBytes(RecordId id) const {
    const HfsEntry* e = entry(id);
    return e ? e->size : 0;
}

RecordTimes HFSP::times(RecordId id) const {
    const HfsEntry* e = entry(id);
    if (!e || e->kind != kFile) return {};
    return {hfsDateToUnixNanos(e->createDate), hfsDateToUnixNanos(e->accessDate),
            hfsDateToUnixNanos(e->contentModDate)};
}

RecordMeta HFSP::meta(RecordId id) const {
    RecordMeta m;
    const HfsEntry* e = entry(id);
    if (!e) return m;
    // A date of 0 was never set.
    auto date = [](std::uint32_t d) { return d ? std::optional<UnixNanos>(hfsDateToUnixNanos(d)) : std::nullopt; };
    m.creation = date(e->createDate);
    m.access = date(e->accessDate);
    m.modification = date(e->contentModDate);
    m.change = date(e->attributeModDate);
    // A record whose permissions were never set keeps a mode of 0.
    if (e->fileMode) m.mode = e->fileMode;
    m.uid = e->ownerId;
    m.gid = e->groupId;
    return m;
}

std::vector<Extent> HFSP::fileExtents(const HfsEntry& e) const {
    std::vector<Extent> out = e.extents;
    appendOverflowExtents(e.cnid, e.totalBlocks, out);
    return out;
}

bool HFSP::saveFileTo(const std::filesystem::path& path, const HfsEntry& e) {
    if (!source || e.kind != kFile || blockSize == 0) return false;
    std::unique_ptr<std::FILE, FileCloser> out(std::fopen(path.c_str(), "wb"));
    if (!out) return false;
    std::uint64_t remaining = e.size;
    const std::uint64_t volumeEnd = volumeBytesAvailable();
    std::vector<std::uint8_t> buf;
    bool ended = false;
    for (const Extent& x : fileExtents(e)) {
        if (remaining == 0 || ended) break;
        std::uint64_t at = std::uint64_t(x.startBlock) * blockSize;
        std::uint64_t extentBytes = std::uint64_t(x.blockCount) * blockSize;
        while (extentBytes > 0 && remaining > 0) {
            // Blocks past the image's end hold nothing: the file ends there.
            if (volumeEnd && at >= volumeEnd) {
                ended = true;
                break;
            }
            std::uint64_t n = std::min({extentBytes, remaining, kReadChunkBytes});
            if (volumeEnd) n = std::min(n, volumeEnd - at);
            buf.resize(n);
            if (!readBytes(at, buf.data(), std::uint32_t(n))) {
                // Retry block by block; an unreadable block keeps its place as zeros.
                for (std::uint64_t o = 0; o < n; o += blockSize) {
                    std::uint32_t part = std::uint32_t(std::min<std::uint64_t>(blockSize, n - o));
                    if (!readBytes(at + o, buf.data() + o, part)) std::fill_n(buf.data() + o, part, 0);
                }
            }
            if (std::fwrite(buf.data(), 1, n, out.get()) != n) return false;
            at += n;
            extentBytes -= n;
            remaining -= n;
        }
    }
    if (std::fclose(out.release()) != 0) return false;
    setFileTimes(path, hfsDateToUnixNanos(e.accessDate), hfsDateToUnixNanos(e.contentModDate));
    return true;
}

SaveOutcome HFSP::saveFile(RecordId id, const std::filesystem::path& folder) {
    SaveOutcome result;
    const HfsEntry* e = entry(id);
    if (!e || e->kind != kFile) return result;
    result.written = folder / pathFromUtf16(hostName(e->name));
    result.ok = saveFileTo(result.written, *e);
    if (result.ok) {
        std::error_code ec;
        auto n = std::filesystem::file_size(result.written, ec);
        result.bytes = ec ? 0 : n;
    }
    return result;
}

}  // namespace salvage
