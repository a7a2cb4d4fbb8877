#pragma once
// Builds small NTFS volumes in memory for the cases real tools cannot make:
// a boot sector, an MFT of hand-made records, and data clusters. Records
// get an update sequence array, so every read goes through the fix-ups.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/ByteView.h"

namespace salvage::test {

class RecordBuilder {
public:
    explicit RecordBuilder(std::uint16_t flags = 1) : bytes_(1024, 0) {
        bytes_[0] = 'F'; bytes_[1] = 'I'; bytes_[2] = 'L'; bytes_[3] = 'E';
        storeLe16(bytes_, 4, 48);  // update sequence offset
        storeLe16(bytes_, 6, 3);   // update sequence count
        storeLe16(bytes_, 20, 56); // first attribute
        storeLe16(bytes_, 22, flags);
        pos_ = 56;
    }
    RecordBuilder& number(std::uint32_t n) { storeLe32(bytes_, 44, n); return *this; }
    RecordBuilder& base(std::uint64_t ref) { storeLe64(bytes_, 32, ref); return *this; }
    RecordBuilder& standardInformation(std::uint64_t created, std::uint64_t modified, std::uint64_t accessed) {
        std::vector<std::uint8_t> v(72, 0);
        storeLe64(v, 0, created);
        storeLe64(v, 8, modified);
        storeLe64(v, 24, accessed);
        return resident(0x10, v);
    }
    RecordBuilder& fileName(std::int64_t parent, const std::u16string& name, bool directory = false,
                            std::uint8_t nameSpace = 1, std::uint32_t flags = 0) {
        std::vector<std::uint8_t> v(66 + name.size() * 2, 0);
        storeLe64(v, 0, std::uint64_t(parent) & 0xFFFFFFFFFFFFull);
        storeLe32(v, 56, flags | (directory ? 0x10000000u : 0));
        v[64] = std::uint8_t(name.size());
        v[65] = nameSpace;
        for (std::size_t i = 0; i < name.size(); ++i) storeLe16(v, 66 + 2 * i, name[i]);
        return resident(0x30, v);
    }
    RecordBuilder& resident(std::uint32_t type, const std::vector<std::uint8_t>& value,
                            const std::u16string& name = u"") {
        const std::size_t nameOff = 24, valueOff = (nameOff + name.size() * 2 + 7) & ~std::size_t(7);
        const std::size_t len = (valueOff + value.size() + 7) & ~std::size_t(7);
        std::span<std::uint8_t> b(bytes_);
        storeLe32(b, pos_, type);
        storeLe32(b, pos_ + 4, std::uint32_t(len));
        bytes_[pos_ + 9] = std::uint8_t(name.size());
        storeLe16(b, pos_ + 10, std::uint16_t(nameOff));
        for (std::size_t i = 0; i < name.size(); ++i) storeLe16(b, pos_ + nameOff + 2 * i, name[i]);
        storeLe32(b, pos_ + 16, std::uint32_t(value.size()));
        storeLe16(b, pos_ + 20, std::uint16_t(valueOff));
        for (std::size_t i = 0; i < value.size() && pos_ + valueOff + i < 1024; ++i) bytes_[pos_ + valueOff + i] = value[i];
        pos_ += len;
        return *this;
    }
    RecordBuilder& nonResident(std::uint32_t type, const std::vector<std::uint8_t>& runs, std::int64_t startVcn,
                               std::int64_t lastVcn, std::int64_t realSize, std::uint16_t flags = 0,
                               std::uint16_t compressionUnit = 0, const std::u16string& name = u"") {
        const std::size_t nameOff = 64, runOff = (nameOff + name.size() * 2 + 7) & ~std::size_t(7);
        const std::size_t len = (runOff + runs.size() + 1 + 7) & ~std::size_t(7);
        std::span<std::uint8_t> b(bytes_);
        storeLe32(b, pos_, type);
        storeLe32(b, pos_ + 4, std::uint32_t(len));
        bytes_[pos_ + 8] = 1;
        bytes_[pos_ + 9] = std::uint8_t(name.size());
        storeLe16(b, pos_ + 10, std::uint16_t(nameOff));
        for (std::size_t i = 0; i < name.size(); ++i) storeLe16(b, pos_ + nameOff + 2 * i, name[i]);
        storeLe16(b, pos_ + 12, flags);
        storeLe64(b, pos_ + 16, std::uint64_t(startVcn));
        storeLe64(b, pos_ + 24, std::uint64_t(lastVcn));
        storeLe16(b, pos_ + 32, std::uint16_t(runOff));
        storeLe16(b, pos_ + 34, compressionUnit);
        storeLe64(b, pos_ + 40, std::uint64_t(realSize));
        storeLe64(b, pos_ + 48, std::uint64_t(realSize));
        for (std::size_t i = 0; i < runs.size(); ++i) bytes_[pos_ + runOff + i] = runs[i];
        pos_ += len;
        return *this;
    }
    // Ends the attribute list and applies the update sequence.
    std::vector<std::uint8_t> finish() {
        std::vector<std::uint8_t> out = bytes_;
        std::span<std::uint8_t> b(out);
        storeLe32(b, pos_, 0xFFFFFFFF);
        storeLe16(b, 48, 0x0007);  // sequence number
        storeLe16(b, 50, le16(ByteView(out), 510));
        storeLe16(b, 52, le16(ByteView(out), 1022));
        storeLe16(b, 510, 0x0007);
        storeLe16(b, 1022, 0x0007);
        return out;
    }

private:
    std::vector<std::uint8_t> bytes_;
    std::size_t pos_ = 0;
};

// A volume: boot sector, the MFT at mftCluster with room for `slots`
// records, and clusters for data after it.
class VolumeBuilder {
public:
    VolumeBuilder(std::uint8_t sectorsPerCluster = 8, std::size_t slots = 32, std::size_t clusters = 256)
        : clusterBytes_(512u * sectorsPerCluster), image_(clusterBytes_ * clusters, 0), slots_(slots) {
        std::span<std::uint8_t> b(image_);
        image_[3] = 'N'; image_[4] = 'T'; image_[5] = 'F'; image_[6] = 'S';
        storeLe16(b, 11, 512);
        image_[13] = sectorsPerCluster;
        storeLe64(b, 40, image_.size() / 512 - 1);
        storeLe64(b, 48, mftCluster());
        // Record 0: the MFT's own record, mapping the MFT's clusters.
        const std::uint64_t mftClusters = (slots * 1024 + clusterBytes_ - 1) / clusterBytes_;
        put(0, RecordBuilder().number(0).fileName(5, u"$MFT")
                   .nonResident(0x80, {0x11, std::uint8_t(mftClusters), std::uint8_t(mftCluster())}, 0,
                                std::int64_t(mftClusters) - 1, std::int64_t(slots * 1024))
                   .finish());
    }
    std::uint64_t mftCluster() const { return 4; }
    std::uint64_t clusterBytes() const { return clusterBytes_; }
    // The first cluster free for data.
    std::uint64_t dataCluster() const { return mftCluster() + (slots_ * 1024 + clusterBytes_ - 1) / clusterBytes_ + 1; }
    void put(std::size_t slot, const std::vector<std::uint8_t>& record) {
        std::copy(record.begin(), record.end(), image_.begin() + std::ptrdiff_t(mftCluster() * clusterBytes_ + slot * 1024));
    }
    void putRoot() { put(5, RecordBuilder(3).number(5).fileName(5, u".", true).finish()); }
    void cluster(std::uint64_t n, const std::vector<std::uint8_t>& bytes) {
        std::copy(bytes.begin(), bytes.end(), image_.begin() + std::ptrdiff_t(n * clusterBytes_));
    }
    std::vector<std::uint8_t>& image() { return image_; }

private:
    std::uint64_t clusterBytes_;
    std::vector<std::uint8_t> image_;
    std::size_t slots_;
};

}  // namespace salvage::test
