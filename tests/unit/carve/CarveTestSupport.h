#pragma once
// Small builders for carving tests: signature records and volumes in memory.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "carve/SignatureRecord.h"
#include "carve/myJpg.h"
#include "image/SectorSource.h"

namespace salvage::test {

inline SignatureRecord record(std::u16string ext, std::initializer_list<std::uint8_t> start,
                              std::initializer_list<std::uint8_t> end = {}, std::u16string category = u"Images",
                              std::uint64_t approx = 0) {
    SignatureRecord r;
    r.extension = ext;
    r.extensionLength = std::uint8_t(ext.size());
    std::size_t i = 0;
    for (auto b : start) r.startSignature[i++] = b;
    r.startLength = std::uint8_t(start.size());
    i = 0;
    for (auto b : end) r.endSignature[i++] = b;
    r.endLength = std::uint8_t(end.size());
    r.category = category;
    r.approxSize = approx;
    return r;
}

// A zeroed volume with byte strings planted at offsets.
struct Volume {
    explicit Volume(std::size_t size) : bytes(size, 0) {}
    Volume& put(std::size_t offset, std::initializer_list<std::uint8_t> data) {
        std::size_t i = offset;
        for (auto b : data) bytes.at(i++) = b;
        return *this;
    }
    std::vector<std::uint8_t> bytes;
};

// Runs one scan of the given records over the bytes.
struct Scan {
    Scan(const std::vector<SignatureRecord>& records, std::vector<std::uint8_t> bytes) : source(std::move(bytes)) {
        for (const auto& r : records) engine.addSignatureType(r, std::uint32_t(engine.signatureTypes.size()));
        engine.source = &source;
        engine.volumeBytes = std::int64_t(source.bytes().size());
        engine.tree = &tree;
    }
    bool run() { return engine.scanVolume(); }
    std::vector<std::pair<std::uint64_t, std::int64_t>> finds() const {
        std::vector<std::pair<std::uint64_t, std::int64_t>> out;
        for (const auto& f : engine.foundFiles) out.emplace_back(f.start, f.length);
        return out;
    }
    MemorySource source;
    BrowseTree tree;
    myJpg engine;
};

}  // namespace salvage::test
