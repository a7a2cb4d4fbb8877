#include "fs/fat/ExFatDirectory.h"

namespace salvage::fat {

namespace {
bool isFileEntry(std::uint8_t t) { return t == kExFatFile || t == kExFatFileDeleted; }
bool isStreamEntry(std::uint8_t t) { return t == kExFatStream || t == kExFatStreamDeleted; }
bool isNameEntry(std::uint8_t t) { return t == kExFatName || t == kExFatNameDeleted; }
constexpr std::size_t kNameUnitsPerEntry = 15;
}  // namespace

std::vector<ExFatSet> decodeEntrySets(ByteView dir, std::vector<std::size_t>* offsets) {
    std::vector<ExFatSet> sets;
    std::size_t off = 0;
    while (dir.has(off, kExFatEntryBytes)) {
        const std::uint8_t type = dir[off];
        if (!isFileEntry(type)) {
            off += kExFatEntryBytes;
            continue;
        }
        ByteView f = dir.sub(off, kExFatEntryBytes);
        if (offsets) offsets->push_back(off);
        ExFatEntry r;
        std::u16string name;
        r.entryType = type;
        const std::uint8_t secondaryCount = f[1];
        r.attributes = le16(f, 4);
        r.createTimestamp = le32(f, 8);
        r.modifyTimestamp = le32(f, 12);
        r.accessTimestamp = le32(f, 16);
        r.create10ms = f[20];
        r.modify10ms = f[21];
        r.createUtcOffset = f[22];
        r.modifyUtcOffset = f[23];
        r.accessUtcOffset = f[24];
        off += kExFatEntryBytes;
        std::size_t secondaries = 0;
        if (dir.has(off, kExFatEntryBytes) && isStreamEntry(dir[off])) {
            ByteView s = dir.sub(off, kExFatEntryBytes);
            r.streamType = s[0];
            r.streamFlags = s[1];
            r.nameLength = s[3];
            r.validDataLength = le64(s, 8);
            r.firstCluster = le32(s, 20);
            r.dataLength = le64(s, 24);
            off += kExFatEntryBytes;
            ++secondaries;
        }
        // A live set says how many entries it has; entries past that belong
        // to an older set whose slots were reused.
        const std::size_t maxSecondaries = secondaryCount >= 2 ? secondaryCount : SIZE_MAX;
        while (dir.has(off, kExFatEntryBytes) && isNameEntry(dir[off]) && secondaries < maxSecondaries) {
            const std::uint8_t* p = dir.data() + off + 2;
            std::size_t units = 0;
            while (units < kNameUnitsPerEntry && (p[2 * units] | p[2 * units + 1]) != 0) ++units;
            for (std::size_t i = 0; i < units; ++i) name.push_back(char16_t(p[2 * i] | (p[2 * i + 1] << 8)));
            off += kExFatEntryBytes;
            ++secondaries;
        }
        if (r.nameLength && name.size() > r.nameLength) name.resize(r.nameLength);
        sets.push_back({r, std::move(name)});
    }
    return sets;
}

}  // namespace salvage::fat
