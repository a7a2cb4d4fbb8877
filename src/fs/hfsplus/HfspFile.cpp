// HFSP: what browsing and saving ask of an entry: names, children, texts,
// times, and reading a file's data fork.
#include <algorithm>

#include "browse/DisplayFormats.h"
#include "fs/hfsplus/HFSP.h"
#include "platform/Text.h"

namespace salvage {

using namespace hfsp;



const HfsEntry* HFSP::entry(RecordId id) const {
    if (id <= 0 || id > RecordId(UINT32_MAX)) return nullptr;
    const RecordIndex at = positionOf(std::uint32_t(id));
    return at == kNoLink ? nullptr : &entries_[at];
}

bool HFSP::isValidRecord(RecordId id) const { return entry(id) != nullptr; }

bool HFSP::isDirectory(RecordId id) const {
    const HfsEntry* e = entry(id);
    return e && e->kind == kFolder;
}

std::u16string HFSP::name(RecordId id) const {
    const HfsEntry* e = entry(id);
    return e ? names_.text(e->name) : std::u16string();
}

bool HFSP::hasChildren(RecordId id) const {
    const HfsEntry* e = entry(id);
    return e && chains_.hasChildren(RecordIndex(e - entries_.data()));
}

void HFSP::forEachChild(RecordId id, const std::function<bool(RecordId)>& visit) const {
    const HfsEntry* e = entry(id);
    if (!e) return;
    chains_.forEachChild(RecordIndex(e - entries_.data()),
                         [&](RecordIndex c) { return visit(RecordId(entries_[c].cnid)); });
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
    const std::size_t from = std::min<std::size_t>(e.firstExtent, extents_.size());
    const std::size_t to = std::min<std::size_t>(from + e.extentCount, extents_.size());
    std::vector<Extent> out(extents_.begin() + std::ptrdiff_t(from), extents_.begin() + std::ptrdiff_t(to));
    appendOverflowExtents(e.cnid, e.totalBlocks, out);
    return out;
}

ContentResult HFSP::readContent(RecordId id, ContentSink& sink) {
    ContentResult res;
    const HfsEntry* e = entry(id);
    if (!e || e->kind != kFile || !source || blockSize == 0) {
        res.reason = e && e->kind != kFile ? "a folder" : "no such file";
        return res;
    }
    res.readable = true;
    res.expectedSize = e->size;
    ContentStream out(sink, source, e->size);
    for (const Extent& x : fileExtents(*e)) {
        if (out.done()) break;
        if (pollStop()) {
            res.stopped = true;
            return res;
        }
        const std::uint64_t at = std::uint64_t(x.startBlock) * blockSize;
        const std::uint64_t bytes = std::uint64_t(x.blockCount) * blockSize;
        // Blocks past the image's end come out missing, each at its place.
        out.read(std::int64_t(at), bytes);
    }
    // Extents that cover less than the size leave the rest missing.
    out.finish(cause::kNoRuns);
    res.stopped = out.refused();
    return res;
}

}  // namespace salvage
