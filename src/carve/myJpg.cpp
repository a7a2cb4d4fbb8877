#include "carve/myJpg.h"

#include <algorithm>
#include <new>

#include "image/ChunkedScan.h"
#include "platform/Text.h"

namespace salvage {

namespace {
std::int64_t nonNegative(std::uint64_t v) {
    // The editor stores 32-bit values widened with their sign; a negative
    // size or skip means nothing and counts as 0.
    auto s = std::int64_t(v);
    return s < 0 ? 0 : s;
}
}  // namespace

void myJpg::addSignatureType(const SignatureRecord& r, std::uint32_t typeIndex) {
    SignatureType t;
    t.extension = r.extension.substr(0, kExtensionKept);
    t.startLength = r.startLength;
    t.endLength = r.endLength;
    t.startSignature = r.startSignature;
    t.endSignature = r.endSignature;
    t.typeIndex = typeIndex;
    auto offset = std::int32_t(r.sizeOffset);
    t.sizeOffset = offset > 0 ? offset : -1;
    t.sizeByteCount = r.sizeByteCount;
    t.headerSize = r.headerSize;
    t.sizeIncludesHeader = r.sizeIncludesHeader;
    t.approxSize = nonNegative(r.approxSize);
    t.skipSize = nonNegative(r.skipSize);
    t.category = r.category;
    signatureTypes.push_back(std::move(t));
}

bool myJpg::buildMatchTable() {
    typeCount = std::uint32_t(signatureTypes.size());
    try {
        matchTable.assign(std::size_t(2) * typeCount, MatchEntry{});
        // One stack of pending starts per type, whatever the count.
        pendingStarts.assign(typeCount, {});
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (auto& list : entriesByFirstByte) list.clear();
    for (std::uint32_t i = 0; i < typeCount; ++i) {
        const SignatureType& t = signatureTypes[i];
        MatchEntry& s = matchTable[i];
        s.length = t.startLength;
        s.typeIndex = i;
        std::copy_n(t.startSignature.begin(), std::min<std::size_t>(t.startLength, kSignatureBytes), s.pattern.begin());
        MatchEntry& e = matchTable[typeCount + i];
        e.length = t.endLength;
        e.typeIndex = i;
        std::copy_n(t.endSignature.begin(), std::min<std::size_t>(t.endLength, kSignatureBytes), e.pattern.begin());
    }
    // Table order is kept in every list, so the first entry that matches
    // is the same one the whole table would give.
    for (std::uint32_t k = 0; k < matchTable.size(); ++k) {
        const MatchEntry& e = matchTable[k];
        if (e.length < 2 || e.length > kSignatureBytes) continue;
        if (e.pattern[0] == kWildcard) {
            for (auto& list : entriesByFirstByte) list.push_back(k);
        } else {
            entriesByFirstByte[e.pattern[0]].push_back(k);
        }
    }
    return true;
}

MatchResult myJpg::matchAt(ByteView data) const {
    if (data.empty()) return {};
    // Signatures of 0 or 1 byte never match; lengths beyond the pattern (a
    // damaged record) never match either: the lists leave them out.
    for (const std::uint32_t k : entriesByFirstByte[data.data()[0]]) {
        const MatchEntry& e = matchTable[k];
        if (!data.has(0, e.length)) continue;
        bool hit = true;
        for (std::size_t i = 0; i < e.length; ++i) {
            std::uint8_t want = e.pattern[i];
            if (want != kWildcard && want != data.data()[i]) {
                hit = false;
                break;
            }
        }
        if (hit) return {k < typeCount ? MatchKind::Start : MatchKind::End, e.typeIndex};
    }
    return {};
}

void myJpg::setUpTree() {
    TreeItem root = kNoItem;
    if (tree) root = tree->insertItem(u"RAW RECOVERY ", ItemImage::Folder);
    for (SignatureType& t : signatureTypes) {
        auto [it, created] = categoryCounts.try_emplace(t.category, 0);
        it->second = 0;
        if (created && tree) categoryItems[t.category] = tree->insertItem(t.category, ItemImage::Folder, root);
        auto item = categoryItems.find(t.category);
        t.categoryItem = item == categoryItems.end() ? kNoItem : item->second;
    }
    if (tree) tree->expand(root);
}

bool myJpg::scanVolume() {
    Reporter& page = pageWindow ? *pageWindow : nullReporter();
    if (!buildMatchTable()) {
        page.message(u"not properly initialized", u"", MessageIcon::Information);
        return false;
    }
    setUpTree();
    const std::int64_t volume = std::max<std::int64_t>(volumeBytes, 0);
    // A last part shorter than a chunk is scanned too.
    const std::int64_t chunkCount = volume / kChunkBytes + (volume % kChunkBytes ? 1 : 0);
    // Progress counts chunks: the page's relay passes finds on at each step.
    page.setProgressRange(0, chunkCount);
    page.setProgressPosition(0);

    if (source) {
        ChunkedScanOptions o;
        o.end = volume;
        o.chunkBytes = std::uint32_t(kChunkBytes);
        // A signature at a chunk's last sector is compared whole; past the
        // volume's end it meets zeros.
        o.overlapBytes = std::uint32_t(kSignatureBytes);
        o.poll = this;
        const ChunkedScanResult r = chunkedScan(*source, o, [&](const ScanChunk& chunk) -> std::int64_t {
            const std::int64_t c = chunk.offset / kChunkBytes;
            // A skip by skipSize ends at the chunk's end on the fixed grid.
            const std::int64_t chunkEnd = (c + 1) * kChunkBytes;
            std::int64_t h = chunk.offset;
            while (h < chunk.limit) {
                MatchResult m = matchAt(chunk.bytes.sub(std::size_t(h - chunk.offset), kSignatureBytes));
                if (pollStop()) return kScanStop;
                h = m.kind != MatchKind::None ? act(m, h, chunkEnd) : h + kStep;
            }
            // The step comes once the chunk is done, before the next read:
            // the page lists this chunk's finds while that read still runs.
            page.setProgressPosition(c + 1);
            return h;
        });
        if (r.outOfMemory) return false;
    }
    page.setProgressPosition(chunkCount);
    finalPass();
    matchTable.clear();
    page.message(u"done..", u"", MessageIcon::Information);
    return true;
}

std::int64_t myJpg::skipFrom(const SignatureType& t, std::int64_t h, std::int64_t chunkEnd) const {
    // A skip never passes the end of the current chunk: the next chunk is
    // examined from its start.
    std::int64_t advance = t.skipSize > kStep ? t.skipSize / kStep * kStep : kStep;
    return advance >= chunkEnd - h ? chunkEnd : h + advance;
}

std::int64_t myJpg::act(MatchResult m, std::int64_t h, std::int64_t chunkEnd) {
    const SignatureType& t = signatureTypes[m.typeIndex];
    auto& stack = pendingStarts[m.typeIndex];
    if (m.kind == MatchKind::Start) {
        if (t.endLength > 0) {
            stack.push_back(std::uint64_t(h));
            return h + kStep;
        }
        if (t.sizeByteCount > 0) return sizeFieldRule(t, h);
        report(t, std::uint64_t(h), t.approxSize);
        return skipFrom(t, h, chunkEnd);
    }
    if (stack.empty()) return h + kStep;
    const std::uint64_t s = stack.back();
    stack.pop_back();
    // The find ends with the last byte of the end signature.
    std::int64_t length = h + t.endLength - std::int64_t(s);
    if (t.approxSize > 0 && length > t.approxSize) length = t.approxSize;
    report(t, s, length);
    return skipFrom(t, h, chunkEnd);
}

std::int64_t myJpg::sizeFieldRule(const SignatureType& t, std::int64_t h) {
    std::array<std::uint8_t, kStep> sector{};
    if (source) readAt(*source, h, sector.data(), std::uint32_t(sector.size()));
    ByteView view(sector.data(), sector.size());
    // Always four bytes, signed; a field outside the sector reads 0.
    std::int64_t size = t.sizeOffset > 0 && view.has(std::size_t(t.sizeOffset), 4) ? sle32(view, std::size_t(t.sizeOffset)) : 0;
    if (size > t.approxSize) size = 0;
    if (t.sizeByteCount != 4 || size <= 0) return h + kStep;
    report(t, std::uint64_t(h), t.approxSize);
    // Continue at the sector after the file, wherever that lies.
    std::int64_t fileBytes = size + (t.sizeIncludesHeader ? 0 : std::int64_t(t.headerSize));
    std::int64_t sectors = (fileBytes + kStep - 1) / kStep;
    return h + std::max<std::int64_t>(sectors, 1) * kStep;
}

void myJpg::finalPass() {
    // Each start that found no end ends where the next newer start of its
    // type begins; the newest gets approxSize. approxSize caps every length.
    for (std::size_t i = 0; i < pendingStarts.size() && i < signatureTypes.size(); ++i) {
        const SignatureType& t = signatureTypes[i];
        const auto& starts = pendingStarts[i];
        for (std::size_t k = starts.size(); k-- > 0;) {
            std::int64_t length = t.approxSize;
            if (k + 1 < starts.size()) length = std::int64_t(starts[k + 1] - starts[k]);
            if (length > t.approxSize) length = t.approxSize;
            if (length > 0) report(t, starts[k], length);
        }
    }
}

std::u16string myJpg::findText(const SignatureType& t, std::uint64_t start) {
    return format16("%lld .", (long long)start) + t.extension;
}

void myJpg::report(const SignatureType& t, std::uint64_t start, std::int64_t length) {
    std::uint64_t count = ++categoryCounts[t.category];
    foundFiles.push_back({start, length, t.typeIndex});
    if (!tree || t.categoryItem == kNoItem) return;
    tree->setText(t.categoryItem, format16("%s (%lld)", toUtf8(t.category).c_str(), (long long)count));
    TreeItem item = tree->insertItem(findText(t, start), ItemImage::File, t.categoryItem);
    tree->setItemData(item, RecordId(foundFiles.size() - 1));
}

}  // namespace salvage
