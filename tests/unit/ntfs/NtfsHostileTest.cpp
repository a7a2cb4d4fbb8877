// Damaged volumes: rounds of random damage to the records and boot sector
// of a real volume, and hand-made records full of noise. Every mode parses,
// lists and writes every file without crashing, hanging or reading outside
// its buffers (run under AddressSanitizer).
#include <chrono>
#include <cstring>
#include <fstream>
#include <random>

#include "NtfsBuilder.h"
#include "NtfsTestSupport.h"
#include "TestPaths.h"

using namespace salvage;
using namespace salvage::test;
namespace fs = std::filesystem;

namespace {

// Counts what a file would write, and stops it after a bound.
class CountingSink : public ContentSink {
public:
    bool put(const ContentPiece& p) override {
        total += p.length;
        return total < (1u << 20);
    }
    std::uint64_t total = 0;
};

// Lists, sizes and writes everything the parse found.
void exercise(ntfs& parser) {
    const auto& entries = parser.entries();
    std::uint64_t visited = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const RecordId id = RecordId(i);
        if (!parser.isValidRecord(id)) continue;
        parser.forEachChild(id, [&](RecordId) { return ++visited < 10 * entries.size(); });
        (void)parser.sizeText(id);
        (void)parser.modificationTimeText(id);
        (void)parser.attributeText(id);
        if (parser.isDirectory(id)) continue;
        CountingSink sink;
        parser.readContent(id, sink);
    }
    parser.renameRecycleBinFiles();
}

struct Damage {
    std::int64_t offset;
    std::vector<std::uint8_t> saved;
};

TEST(NtfsHostile, RandomDamageToARealVolume) {
    fs::path img;
    if (!requireFixture("ntfs.img", img)) return;
    std::ifstream off(fixturePath("ntfs_mft_offset.txt"));
    std::int64_t mft = 0;
    off >> mft;
    std::vector<std::uint8_t> image(fs::file_size(img));
    std::ifstream in(img, std::ios::binary);
    in.read(reinterpret_cast<char*>(image.data()), std::streamsize(image.size()));
    ASSERT_TRUE(in);
    MemorySource source(std::move(image));
    auto& bytes = source.bytes();
    std::mt19937_64 rng(20240229);
    const std::int64_t records = 96;
    for (int round = 0; round < 24; ++round) {
        SCOPED_TRACE(round);
        std::vector<Damage> damage;
        auto hit = [&](std::int64_t at, std::size_t n) {
            Damage d{at, std::vector<std::uint8_t>(bytes.begin() + at, bytes.begin() + at + std::int64_t(n))};
            damage.push_back(std::move(d));
            return bytes.data() + at;
        };
        const int kind = round % 5;
        for (int k = 0; k < 12; ++k) {
            const std::int64_t rec = mft + std::int64_t(rng() % records) * 1024;
            if (kind == 0) {  // random bytes anywhere in a record
                std::uint8_t* p = hit(rec + std::int64_t(rng() % 1000), 16);
                for (int i = 0; i < 16; ++i) p[i] = std::uint8_t(rng());
            } else if (kind == 1) {  // wild header fields: fix-ups, first attribute
                std::uint8_t* p = hit(rec, 48);
                storeLe16({p, 48}, 4 + 2 * (rng() % 3), std::uint16_t(rng()));
                storeLe16({p, 48}, 20, std::uint16_t(rng() % 1100));
            } else if (kind == 2) {  // zeroed sectors
                std::memset(hit(rec + std::int64_t(rng() % 2) * 512, 512), 0, 512);
            } else if (kind == 3) {  // wild attribute lengths and run bytes
                std::uint8_t* p = hit(rec + 56, 200);
                for (int i = 0; i < 200; i += 1 + int(rng() % 9)) p[i] = std::uint8_t(rng());
            } else {  // boot sector fields
                std::uint8_t* p = hit(0, 64);
                p[11 + rng() % 50] = std::uint8_t(rng());
                p[13] = std::uint8_t(rng());
            }
        }
        for (RecoveryMode mode : {RecoveryMode::Standard, RecoveryMode::Deep}) {
            if (mode == RecoveryMode::Deep && round % 4) continue;
            BrowseTree tree;
            RecordingReporter reporter;
            ntfs parser;
            parser.attach(&source, &tree, &reporter, VolumeRecord{u"NTFS", u"1", u"64   MB", 0});
            EXPECT_EQ(parser.parse(mode), ParseResult::Done);
            exercise(parser);
        }
        for (auto it = damage.rbegin(); it != damage.rend(); ++it)
            std::copy(it->saved.begin(), it->saved.end(), bytes.begin() + it->offset);
    }
}

TEST(NtfsHostile, NoiseRecordsOnAHandMadeVolume) {
    std::mt19937_64 rng(99);
    for (int round = 0; round < 60; ++round) {
        VolumeBuilder v(round % 3 == 0 ? 1 : 8);
        v.putRoot();
        for (std::size_t slot = 6; slot < 32; ++slot) {
            auto rec = RecordBuilder(std::uint16_t(rng() % 4)).number(std::uint32_t(slot))
                           .fileName(std::int64_t(rng() % 40), u"f" + std::u16string(1, char16_t(u'a' + slot)),
                                     rng() % 3 == 0)
                           .nonResident(0x80, {0x11, std::uint8_t(rng()), std::uint8_t(rng())}, 0,
                                        std::int64_t(rng() % 64), std::int64_t(rng() % (1u << 20)),
                                        std::uint16_t(rng() % 2), std::uint16_t(rng() % 20))
                           .resident(0x80, {'a', 'd', 's'}, u"stream")
                           .finish();
            // Noise over the attributes, keeping the header.
            for (int k = 0; k < int(rng() % 40); ++k) rec[56 + rng() % 968] = std::uint8_t(rng());
            v.put(slot, rec);
        }
        auto p = std::make_unique<ParsedNtfs>();
        p->source = std::make_unique<MemorySource>(v.image());
        p->attach(u"1   MB", 0);
        const RecoveryMode mode = round % 2 ? RecoveryMode::Deep : RecoveryMode::Standard;
        EXPECT_EQ(p->parser.parse(mode), ParseResult::Done);
        exercise(p->parser);
    }
}

TEST(NtfsHostile, NamedStreamsPerFileAreCapped) {
    // An attribute list whose extension records carry 20 streams each, 280
    // in all: the file lists the first kMaxStreamsPerFile, each readable.
    VolumeBuilder v;
    v.putRoot();
    v.put(16, RecordBuilder().number(16).fileName(5, u"many.bin").resident(0x20, std::vector<std::uint8_t>(32, 0))
                  .finish());
    for (std::uint32_t r = 17; r < 31; ++r) {
        RecordBuilder rec;
        rec.number(r).base(16);
        for (int k = 0; k < 20; ++k) rec.resident(0x80, {std::uint8_t(k)}, u"s" + fromUtf8(std::to_string(r * 100 + k)));
        v.put(r, rec.finish());
    }
    auto p = std::make_unique<ParsedNtfs>();
    p->source = std::make_unique<MemorySource>(v.image());
    p->attach(u"1   MB", 0);
    ASSERT_EQ(p->parser.parse(RecoveryMode::Standard), ParseResult::Done);
    std::size_t streams = 0;
    p->parser.forEachChild(p->parser.rootIndex(), [&](RecordId c) {
        if (!p->parser.streamName(c).empty()) ++streams;
        return true;
    });
    EXPECT_EQ(streams, ntfs::kMaxStreamsPerFile);
    exercise(p->parser);
}

TEST(NtfsHostile, EmptyAndTinyImagesEndQuietly) {
    for (std::size_t size : {0u, 100u, 512u, 4096u}) {
        for (RecoveryMode mode : {RecoveryMode::Standard, RecoveryMode::Advanced, RecoveryMode::Deep}) {
            auto p = std::make_unique<ParsedNtfs>();
            p->source = std::make_unique<MemorySource>(std::vector<std::uint8_t>(size, 0));
            p->attach(u"1   MB", 0);
            EXPECT_EQ(p->parser.parse(mode), ParseResult::Done);
            const auto first = p->tree.children(p->parser.rootItem);
            ASSERT_EQ(first.size(), 1u);
            EXPECT_EQ(p->tree.text(first[0]), u"ORPHAN_ENTRY");
        }
    }
}

TEST(NtfsHostile, ImageShorterThanASectorIsNotScannedAsTheBootSectorsVolume) {
    // The first 139 bytes of a boot sector that claims 2^40 sectors: with no
    // whole sector in the image, the record scans have nothing to read and
    // must not walk the claimed volume.
    std::vector<std::uint8_t> cut(139, 0);
    std::memcpy(&cut[3], "NTFS    ", 8);
    cut[11] = 0x00;
    cut[12] = 0x02;  // 512 bytes a sector
    cut[13] = 8;     // a cluster of 8 sectors
    cut[45] = 0x01;  // total sectors 2^40
    cut[48] = 4;     // $MFT at cluster 4
    for (RecoveryMode mode : {RecoveryMode::Standard, RecoveryMode::Advanced, RecoveryMode::Deep}) {
        auto p = std::make_unique<ParsedNtfs>();
        p->source = std::make_unique<MemorySource>(cut);
        p->attach(u"1   MB", 0);
        const auto began = std::chrono::steady_clock::now();
        EXPECT_EQ(p->parser.parse(mode), ParseResult::Done);
        EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(5));
    }
}

TEST(NtfsHostile, StopEndsTheScansAtTheNextPoll) {
    VolumeBuilder v;
    v.putRoot();
    auto p = std::make_unique<ParsedNtfs>();
    p->source = std::make_unique<MemorySource>(v.image());
    p->attach(u"1   MB", 0);
    p->parser.stopRequested = true;
    EXPECT_EQ(p->parser.parse(RecoveryMode::Deep), ParseResult::Done);
    EXPECT_EQ(p->parser.entries().size(), 1u);  // only the orphan entry
    // The candidate search clears the flag it stopped on.
    p->parser.stopRequested = true;
    EXPECT_EQ(p->parser.findAdvancedCandidates(3), 0);
    EXPECT_FALSE(p->parser.stopRequested.load());
}

}  // namespace
