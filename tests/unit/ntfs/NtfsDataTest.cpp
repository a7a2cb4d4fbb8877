// File data on hand-made volumes: resident data across a sector end, named
// streams beside the file's own, sparse and compressed units, data spread
// over extension records by an attribute list, sizes that lie, and names
// that try to leave the output folder.
#include <fstream>
#include <map>

#include "NtfsBuilder.h"
#include "NtfsTestSupport.h"
#include "TestPaths.h"

using namespace salvage;
using namespace salvage::test;
namespace fs = std::filesystem;

namespace {

std::unique_ptr<ParsedNtfs> parseBuilt(VolumeBuilder& v) {
    auto p = std::make_unique<ParsedNtfs>();
    p->source = std::make_unique<MemorySource>(v.image());
    p->attach(u"1   MB", 0);
    p->result = p->parser.parse(RecoveryMode::Standard);
    return p;
}

std::vector<std::uint8_t> readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<std::uint8_t> bytesOf(std::size_t n, std::uint8_t seed) {
    std::vector<std::uint8_t> b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = std::uint8_t(seed + i * 7 + (i >> 8));
    return b;
}

constexpr std::uint64_t kCreated = 127000000000000000ull, kModified = 128000000000000000ull,
                        kAccessed = 129000000000000000ull;

TEST(NtfsData, ResidentDataAndNamedStreams) {
    VolumeBuilder v;
    v.putRoot();
    const auto content = bytesOf(600, 3);  // crosses the first sector's fix-up
    v.put(16, RecordBuilder().number(16).standardInformation(kCreated, kModified, kAccessed)
                  .fileName(5, u"resident.bin").resident(0x80, content).finish());
    const std::vector<std::uint8_t> own(100, 'o'), stream(40, 's');
    // The named stream after the file's own data, and before it.
    v.put(17, RecordBuilder().number(17).fileName(5, u"stream_after.txt").resident(0x80, own)
                  .resident(0x80, stream, u"Zone.Identifier").finish());
    v.put(18, RecordBuilder().number(18).fileName(5, u"stream_before.txt")
                  .resident(0x80, stream, u"Zone.Identifier").resident(0x80, own).finish());
    auto p = parseBuilt(v);
    const fs::path out = scratchDir("ntfs_data_resident");
    SaveOutcome s = p->parser.saveFile(16, out);
    EXPECT_EQ(readAll(s.written), content);
    EXPECT_EQ(p->parser.sizeBytes(16), 600u);
    const RecordTimes t = p->parser.times(16);
    EXPECT_EQ(fs::last_write_time(s.written).time_since_epoch().count() != 0, true);
    EXPECT_EQ(*t.creation, fileTimeToUnixNanos(kCreated));
    EXPECT_EQ(*t.modification, fileTimeToUnixNanos(kModified));
    EXPECT_EQ(*t.access, fileTimeToUnixNanos(kAccessed));
    EXPECT_EQ(readAll(p->parser.saveFile(17, out).written), own);
    EXPECT_EQ(readAll(p->parser.saveFile(18, out).written), own);
    EXPECT_EQ(p->parser.sizeBytes(18), 100u);
    // Each named stream is an entry of its own right after its file, with
    // the file's record number and times, saved under a host-safe name.
    std::vector<std::u16string> names;
    std::map<std::u16string, RecordId> ids;
    p->parser.forEachChild(5, [&](RecordId c) {
        names.push_back(p->parser.name(c));
        ids[names.back()] = c;
        return true;
    });
    EXPECT_EQ(names, (std::vector<std::u16string>{u"resident.bin", u"stream_after.txt",
                                                  u"stream_after.txt:Zone.Identifier", u"stream_before.txt",
                                                  u"stream_before.txt:Zone.Identifier", u"ORPHAN_ENTRY"}));
    for (RecordId file : {17, 18}) {
        const RecordId id = ids.at(p->parser.name(file) + u":Zone.Identifier");
        EXPECT_EQ(p->parser.streamName(id), u"Zone.Identifier");
        EXPECT_EQ(p->parser.streamName(file), u"");
        EXPECT_EQ(p->parser.recordNumber(id), file);
        EXPECT_EQ(p->parser.sizeBytes(id), 40u);
        EXPECT_FALSE(p->parser.isDirectory(id) || p->parser.hasChildren(id));
        const SaveOutcome saved = p->parser.saveFile(id, out);
        EXPECT_EQ(saved.written.filename(), toUtf8(p->parser.name(file)) + "_Zone.Identifier");
        EXPECT_EQ(readAll(saved.written), stream);
        EXPECT_EQ(saved.reason, "");
    }
}

TEST(NtfsData, PlainSparseAndClippedAtTheDataSize) {
    VolumeBuilder v;
    v.putRoot();
    const std::uint64_t c = v.dataCluster(), cb = v.clusterBytes();
    const auto a = bytesOf(3 * cb, 1);
    v.cluster(c, a);
    // 5000 bytes in three allocated clusters: 4096 + 904 are written.
    v.put(16, RecordBuilder().number(16).fileName(5, u"five_k.bin")
                  .nonResident(0x80, {0x11, 0x03, std::uint8_t(c)}, 0, 2, 5000).finish());
    // Data, a sparse run of two clusters, data again.
    v.put(17, RecordBuilder().number(17).fileName(5, u"sparse.bin")
                  .nonResident(0x80, {0x11, 0x01, std::uint8_t(c), 0x01, 0x02, 0x11, 0x01, 0x01}, 0, 3,
                               std::int64_t(4 * cb))
                  .finish());
    // A size far beyond what its runs hold (and the volume): only the runs
    // are written, the rest is reported as damage.
    v.put(18, RecordBuilder().number(18).fileName(5, u"liar.bin")
                  .nonResident(0x80, {0x11, 0x01, std::uint8_t(c)}, 0, 0, std::int64_t(1) << 50).finish());
    // Runs far outside the volume read as zeros.
    v.put(19, RecordBuilder().number(19).fileName(5, u"outside.bin")
                  .nonResident(0x80, {0x41, 0x02, 0x00, 0x00, 0x00, 0x40}, 0, 1, std::int64_t(2 * cb)).finish());
    auto p = parseBuilt(v);
    const fs::path out = scratchDir("ntfs_data_plain");
    const SaveOutcome fiveSaved = p->parser.saveFile(16, out);
    EXPECT_EQ(fiveSaved.status, SaveStatus::Ok);
    auto five = readAll(fiveSaved.written);
    EXPECT_EQ(five, std::vector<std::uint8_t>(a.begin(), a.begin() + 5000));

    auto sparse = readAll(p->parser.saveFile(17, out).written);
    ASSERT_EQ(sparse.size(), 4 * cb);
    std::vector<std::uint8_t> expected(a.begin(), a.begin() + std::ptrdiff_t(cb));
    expected.resize(3 * cb, 0);
    expected.insert(expected.end(), a.begin() + std::ptrdiff_t(cb), a.begin() + std::ptrdiff_t(2 * cb));
    EXPECT_EQ(sparse, expected);

    EXPECT_EQ(p->parser.saveFile(17, out).status, SaveStatus::Ok);  // sparse runs are content, not damage
    const SaveOutcome liar = p->parser.saveFile(18, out);
    EXPECT_EQ(liar.status, SaveStatus::Damaged);
    EXPECT_EQ(liar.bytes, cb);
    EXPECT_EQ(liar.badBytes, (std::uint64_t(1) << 50) - cb);
    const SaveOutcome outside = p->parser.saveFile(19, out);
    EXPECT_EQ(outside.status, SaveStatus::Damaged);
    EXPECT_EQ(outside.badBytes, 2 * cb);
    EXPECT_TRUE(readAll(outside.written).empty());
}

// An LZNT1 stream of one chunk that produces 4096 copies of `b`.
std::vector<std::uint8_t> repeatChunk(std::uint8_t b) { return {0x03, 0xB0, 0x02, b, 0xFC, 0x0F}; }

TEST(NtfsData, CompressedUnitsStoredSparseAndLznt1) {
    VolumeBuilder v;
    v.putRoot();
    const std::uint64_t c = v.dataCluster(), cb = v.clusterBytes(), unit = 16 * cb;
    std::vector<std::uint8_t> compressed;
    for (int i = 0; i < 16; ++i) {
        auto ch = repeatChunk(std::uint8_t('A' + i));
        compressed.insert(compressed.end(), ch.begin(), ch.end());
    }
    v.cluster(c, compressed);
    const auto stored = bytesOf(unit, 9);
    v.cluster(c + 7, stored);
    // Unit 0: one cluster of LZNT1 and 15 sparse; unit 1: all sparse;
    // unit 2: 16 allocated clusters, stored as they are.
    const std::int64_t size = std::int64_t(3 * unit - 100);
    v.put(16, RecordBuilder().number(16).fileName(5, u"compressed.bin")
                  .nonResident(0x80, {0x11, 0x01, std::uint8_t(c), 0x01, 0x0F, 0x01, 0x10, 0x11, 0x10, 0x07}, 0, 47,
                               size, 0x0001, 4)
                  .finish());
    auto p = parseBuilt(v);
    auto out = readAll(p->parser.saveFile(16, scratchDir("ntfs_data_compressed")).written);
    ASSERT_EQ(out.size(), std::size_t(size));
    for (int i = 0; i < 16; ++i) EXPECT_EQ(out[std::size_t(i) * cb + 5], 'A' + i);
    EXPECT_EQ(std::vector<std::uint8_t>(out.begin() + std::ptrdiff_t(unit), out.begin() + std::ptrdiff_t(2 * unit)),
              std::vector<std::uint8_t>(unit, 0));
    EXPECT_EQ(std::vector<std::uint8_t>(out.begin() + std::ptrdiff_t(2 * unit), out.end()),
              std::vector<std::uint8_t>(stored.begin(), stored.end() - 100));
}

std::vector<std::uint8_t> listEntry(std::uint32_t type, std::int64_t vcn, std::uint64_t record,
                                    const std::u16string& name = u"") {
    const std::size_t length = (26 + name.size() * 2 + 7) & ~std::size_t(7);
    std::vector<std::uint8_t> e(length, 0);
    storeLe32(e, 0, type);
    storeLe16(e, 4, std::uint16_t(length));
    e[6] = std::uint8_t(name.size());
    e[7] = 26;
    storeLe64(e, 8, std::uint64_t(vcn));
    storeLe64(e, 16, record);
    for (std::size_t i = 0; i < name.size(); ++i) storeLe16(e, 26 + 2 * i, name[i]);
    return e;
}

TEST(NtfsData, AttributeListJoinsExtentsAndTheNamedExtensionUsesItsBase) {
    VolumeBuilder v;
    v.putRoot();
    const std::uint64_t c = v.dataCluster(), cb = v.clusterBytes();
    const auto data = bytesOf(4 * cb, 5), hidden = bytesOf(2 * cb, 77);
    v.cluster(c, std::vector<std::uint8_t>(data.begin(), data.begin() + std::ptrdiff_t(2 * cb)));
    v.cluster(c + 10, std::vector<std::uint8_t>(data.begin() + std::ptrdiff_t(2 * cb), data.end()));
    v.cluster(c + 20, std::vector<std::uint8_t>(hidden.begin(), hidden.begin() + std::ptrdiff_t(cb)));
    v.cluster(c + 30, std::vector<std::uint8_t>(hidden.begin() + std::ptrdiff_t(cb), hidden.end()));
    std::vector<std::uint8_t> list;
    for (auto e : {listEntry(0x10, 0, 16), listEntry(0x30, 0, 17), listEntry(0x80, 0, 16), listEntry(0x80, 2, 17),
                   listEntry(0x80, 0, 16, u"hidden"), listEntry(0x80, 1, 17, u"hidden"), listEntry(0x80, 0, 17, u"note")})
        list.insert(list.end(), e.begin(), e.end());
    const std::int64_t size = std::int64_t(4 * cb - 10), hiddenSize = std::int64_t(2 * cb - 3);
    const std::vector<std::uint8_t> note{'n', 'o', 't', 'e'};
    // The base record keeps the first extents of the file's data and of its
    // "hidden" stream; the second extents, a resident "note" stream and the
    // name live in the extension record.
    v.put(16, RecordBuilder().number(16).standardInformation(kCreated, kModified, kAccessed).resident(0x20, list)
                  .nonResident(0x80, {0x11, 0x02, std::uint8_t(c)}, 0, 1, size)
                  .nonResident(0x80, {0x11, 0x01, std::uint8_t(c + 20)}, 0, 0, hiddenSize, 0, 0, u"hidden")
                  .finish());
    v.put(17, RecordBuilder().number(17).base(16).fileName(5, u"spread.bin")
                  .nonResident(0x80, {0x11, 0x02, std::uint8_t(c + 10)}, 2, 3, 0)
                  .nonResident(0x80, {0x11, 0x01, std::uint8_t(c + 30)}, 1, 1, 0, 0, 0, u"hidden")
                  .resident(0x80, note, u"note").finish());
    auto p = parseBuilt(v);
    EXPECT_FALSE(p->parser.isValidRecord(16));  // the base record has no name
    EXPECT_EQ(p->parser.sizeBytes(17), std::uint64_t(size));
    EXPECT_EQ(*p->parser.times(17).modification, fileTimeToUnixNanos(kModified));
    const fs::path dir = scratchDir("ntfs_data_list");
    auto out = readAll(p->parser.saveFile(17, dir).written);
    EXPECT_EQ(out, std::vector<std::uint8_t>(data.begin(), data.begin() + size));
    // The streams are listed beside the file that carries the name, and
    // read through the same extents.
    const auto paths = pathsOf(p->parser);
    ASSERT_TRUE(paths.count("spread.bin:hidden") && paths.count("spread.bin:note"));
    const RecordId hiddenId = paths.at("spread.bin:hidden"), noteId = paths.at("spread.bin:note");
    EXPECT_EQ(p->parser.sizeBytes(hiddenId), std::uint64_t(hiddenSize));
    EXPECT_EQ(*p->parser.times(hiddenId).modification, fileTimeToUnixNanos(kModified));
    EXPECT_EQ(readAll(p->parser.saveFile(hiddenId, dir).written),
              std::vector<std::uint8_t>(hidden.begin(), hidden.begin() + hiddenSize));
    EXPECT_EQ(readAll(p->parser.saveFile(noteId, dir).written), note);
}

TEST(NtfsData, NamesNeverLeaveTheOutputFolder) {
    VolumeBuilder v;
    v.putRoot();
    v.put(16, RecordBuilder().number(16).fileName(5, u"../../escape.txt").resident(0x80, {'x'}).finish());
    v.put(17, RecordBuilder().number(17).fileName(5, u"..").resident(0x80, {'y'}).finish());
    v.put(18, RecordBuilder().number(18).fileName(5, u"  padded.txt  ").resident(0x80, {'z'}).finish());
    auto p = parseBuilt(v);
    const fs::path out = scratchDir("ntfs_data_names");
    for (RecordId id : {16, 17, 18}) {
        const SaveOutcome s = p->parser.saveFile(id, out);
        ASSERT_TRUE(s.ok);
        EXPECT_EQ(s.written.parent_path(), out);
        EXPECT_TRUE(fs::is_regular_file(s.written));
    }
    EXPECT_EQ(p->parser.saveFile(18, out).written.filename(), "padded.txt");
}

}  // namespace
