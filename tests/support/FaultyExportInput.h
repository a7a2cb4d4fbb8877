#pragma once
// An in-memory image for the export job whose reads fail, or succeed while
// reporting damage, where it is told to; its reports may also lie about
// where the damage is. Shared by the export tests and the export fuzz
// harness.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "image/ExportJob.h"

namespace salvage::test {

class FaultyExportInput : public ExportInput {
public:
    std::vector<std::uint8_t> media;
    std::uint32_t chunk = 4096;
    std::vector<ByteRange> failing;   // a read touching one of these fails as a whole
    std::vector<ByteRange> damaging;  // reads succeed; these parts come as zeros and are reported
    std::vector<ByteRange> lies;      // reported as damage by every read, wherever they lie
    std::string md5, sha1;            // the "stored" hashes

    static bool overlap(const ByteRange& r, std::uint64_t offset, std::uint64_t bytes, ByteRange& out) {
        const std::uint64_t end = r.length > UINT64_MAX - r.offset ? UINT64_MAX : r.offset + r.length;
        const std::uint64_t first = std::max(r.offset, offset), last = std::min(end, offset + bytes);
        if (first >= last) return false;
        out = {first, last - first};
        return true;
    }
    // True when any failing, damaging or lying range meets [offset, offset + bytes).
    bool faultIn(std::uint64_t offset, std::uint64_t bytes) const {
        ByteRange o;
        for (const auto* list : {&failing, &damaging, &lies})
            for (const ByteRange& r : *list)
                if (overlap(r, offset, bytes, o)) return true;
        return false;
    }

    std::uint64_t mediaBytes() const override { return media.size(); }
    std::uint32_t chunkBytes() const override { return chunk; }
    bool readAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t bytes,
                std::vector<ByteRange>& damaged) override {
        if (offset > media.size() || bytes > media.size() - offset) return false;
        ByteRange o;
        for (const ByteRange& r : failing)
            if (overlap(r, offset, bytes, o)) return false;
        std::memcpy(buffer, media.data() + offset, bytes);
        for (const ByteRange& r : damaging)
            if (overlap(r, offset, bytes, o)) {
                std::memset(buffer + (o.offset - offset), 0, o.length);
                damaged.push_back(o);
            }
        damaged.insert(damaged.end(), lies.begin(), lies.end());
        return true;
    }
    std::string storedHash(const char* name) override { return std::string(name) == "MD5" ? md5 : sha1; }
};

}  // namespace salvage::test
