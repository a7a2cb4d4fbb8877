#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "CarveTestSupport.h"
#include "TestPaths.h"
#include "carve/SignatureFile.h"
#include "platform/Text.h"

using namespace salvage;
using namespace salvage::test;
namespace fs = std::filesystem;

namespace {
std::vector<std::uint8_t> readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}
void writeAll(const fs::path& p, const std::vector<std::uint8_t>& b) {
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}
SignatureFields fields(std::u16string ext, std::u16string start, std::u16string category = u"Images") {
    SignatureFields f;
    f.extension = ext;
    f.startSignature = start;
    f.category = category;
    return f;
}
std::vector<std::uint8_t> fileOf(const std::vector<SignatureRecord>& records) {
    std::vector<std::uint8_t> out;
    for (const auto& r : records) {
        auto b = r.encode();
        out.insert(out.end(), b.begin(), b.end());
    }
    return out;
}

TEST(SignatureRecord, FieldsSitAtTheirOffsets) {
    SignatureFields f = fields(u"jpeg2", u"0xFF,0xD8,0xFF", u"Pictures");
    f.endSignature = u"FF,D9";
    f.sizeOffset = u"2";
    f.sizeByteCount = u"4";
    f.headerSize = u"14";
    f.sizeIncludesHeader = true;
    f.approxSize = u"-1";
    f.skipSize = u"2097152";
    RecordingReporter rep;
    auto r = buildSignatureRecord(f, 7, rep);
    ASSERT_TRUE(r);
    auto b = r->encode();
    ByteView v(b.data(), b.size());
    EXPECT_EQ(le16(v, 0), u'j');
    EXPECT_EQ(le16(v, 6), u'g');
    EXPECT_EQ(le16(v, 8), 0);  // four characters kept, the fifth unit stays 0
    EXPECT_EQ(v[10], 5);       // the typed length
    EXPECT_EQ(v[11], 0xFF);
    EXPECT_EQ(v[13], 0xFF);
    EXPECT_EQ(v[21], 0xFF);
    EXPECT_EQ(v[22], 0xD9);
    EXPECT_EQ(v[31], 3);
    EXPECT_EQ(v[32], 2);
    EXPECT_EQ(v[33], 7);
    EXPECT_EQ(le32(v, 34), 2u);
    EXPECT_EQ(le32(v, 38), 4u);
    EXPECT_EQ(le32(v, 42), 14u);
    EXPECT_EQ(v[46], 1);
    EXPECT_EQ(le64(v, 51), ~0ull);  // 32-bit value widened with its sign
    EXPECT_EQ(le64(v, 59), 2097152u);
    EXPECT_EQ(utf16leToString(b.data() + 67, 50, true), u"Pictures");
    SignatureRecord back = SignatureRecord::decode(v);
    EXPECT_EQ(back.encode(), b);
    // A fresh record: no size field, index 0xFF.
    EXPECT_EQ(le32(ByteView(SignatureRecord{}.encode()), 34), 0xFFFFFFFFu);
}

TEST(SignatureRecord, SignatureTextForms) {
    EXPECT_EQ(parseSignatureText(u"0x89,0x50,0x4E,0x47"), parseSignatureText(u"89,50,4E,47"));
    EXPECT_EQ(parseSignatureText(u"0x89,,0x50"), (std::vector<std::uint8_t>{0x89, 0x50}));
    EXPECT_EQ(parseSignatureText(u" zz , 0x1FF"), (std::vector<std::uint8_t>{0, 0xFF}));
    EXPECT_TRUE(parseSignatureText(u",,").empty());
}

TEST(SignatureEditor, RefusesWhatTheRecordCannotHold) {
    RecordingReporter rep;
    EXPECT_FALSE(buildSignatureRecord(fields(u"", u"1,2"), 0, rep));
    EXPECT_FALSE(buildSignatureRecord(fields(u"a", u","), 0, rep));
    EXPECT_FALSE(buildSignatureRecord(fields(u"a", u"1,2,3,4,5,6,7,8,9,10,11"), 0, rep));
    EXPECT_FALSE(buildSignatureRecord(fields(u"a", u"1,2", std::u16string(50, u'c')), 0, rep));
    EXPECT_TRUE(buildSignatureRecord(fields(u"a", u"1,2", std::u16string(49, u'c')), 0, rep));
    auto m = rep.messages();
    ASSERT_EQ(m.size(), 4u);
    EXPECT_EQ(m[0].text, u"extention length is zero..");
    EXPECT_EQ(m[1].text, u"signature length is zero..");
}

TEST(SignatureEditor, AppendsNumberedRecordsToAFreshFile) {
    fs::path dir = scratchDir("carve_editor");
    fs::path p = dir / "user.sig";
    writeAll(p, std::vector<std::uint8_t>(500, 0x55));  // an existing file is emptied
    RecordingReporter rep;
    SignatureFileWriter w;
    EXPECT_FALSE(w.appendSignature(fields(u"a", u"1,2"), rep));  // no file chosen: nothing happens
    ASSERT_TRUE(w.choose(p, rep));
    for (auto ext : {u"aa", u"bb", u"cc"}) EXPECT_TRUE(w.appendSignature(fields(ext, u"1,2"), rep));
    EXPECT_TRUE(rep.sawMessage(u"everything initialized well....."));
    auto bytes = readAll(p);
    ASSERT_EQ(bytes.size(), 3 * kSignatureRecordBytes);
    EXPECT_EQ(bytes[2 * kSignatureRecordBytes + 33], 2);
    EXPECT_FALSE(w.choose(dir / "missing" / "x.sig", rep));
    EXPECT_TRUE(rep.sawMessage(u"file can not be created"));
}

TEST(SignatureLoader, RecordIndexDecidesHowManyLoad) {
    fs::path dir = scratchDir("carve_loader");
    std::vector<SignatureRecord> rs = {record(u"a", {1, 2}), record(u"b", {3, 4}), record(u"c", {5, 6})};
    for (std::size_t i = 0; i < rs.size(); ++i) rs[i].recordIndex = std::uint8_t(i);
    RecordingReporter rep;
    std::unique_ptr<myJpg> engine;

    writeAll(dir / "three", fileOf(rs));
    ASSERT_TRUE(loadUserSignatures(dir / "three", engine, rep));
    EXPECT_EQ(engine->signatureTypes.size(), 3u);
    EXPECT_TRUE(rep.sawStatus(u"Processing....."));

    rs[2].recordIndex = 0;  // the last record says the file holds one record
    writeAll(dir / "lying", fileOf(rs));
    loadDefaultSignatures(dir / "lying", engine, rep);  // a new engine
    EXPECT_EQ(engine->signatureTypes.size(), 1u);

    rs[2].recordIndex = 200;  // claims more than the file has: what is there loads
    writeAll(dir / "short", fileOf(rs));
    ASSERT_TRUE(loadUserSignatures(dir / "short", engine, rep));  // added after the default types
    ASSERT_EQ(engine->signatureTypes.size(), 4u);
    EXPECT_EQ(engine->signatureTypes[3].typeIndex, 3u);
    EXPECT_EQ(engine->signatureTypes[3].extension, u"c");
}

TEST(SignatureLoader, BadFilesAreRefusedWithTheirMessages) {
    fs::path dir = scratchDir("carve_loader_bad");
    RecordingReporter rep;
    std::unique_ptr<myJpg> engine;
    EXPECT_FALSE(loadUserSignatures(dir / "none", engine, rep));
    EXPECT_TRUE(rep.sawMessage(u"can not open file"));
    loadDefaultSignatures(dir / "none", engine, rep);  // silently nothing
    EXPECT_EQ(engine, nullptr);

    writeAll(dir / "tiny", std::vector<std::uint8_t>(170, 0));
    EXPECT_FALSE(loadUserSignatures(dir / "tiny", engine, rep));
    writeAll(dir / "big", std::vector<std::uint8_t>(kMaxSettingsFileBytes + 1, 0));
    EXPECT_FALSE(loadUserSignatures(dir / "big", engine, rep));
    SignatureRecord wide = record(u"w", {1, 2});
    wide.recordIndex = 0;
    wide.sizeOffset = 4;
    wide.sizeByteCount = 9;
    writeAll(dir / "wide", fileOf({wide}));
    EXPECT_FALSE(loadUserSignatures(dir / "wide", engine, rep));
    std::size_t refusals = 0;
    for (const auto& m : rep.messages()) refusals += m.text == u"not a valid file..";
    EXPECT_EQ(refusals, 3u);
}

TEST(SignatureLoader, TypesTheEngineCannotUseAreLeftOutWithAMessage) {
    fs::path dir = scratchDir("carve_loader_types");
    std::vector<SignatureRecord> rs(5, record(u"ok", {1, 2}));
    rs[0].sizeOffset = 510, rs[0].sizeByteCount = 4;     // field past the sector
    rs[1].sizeOffset = kNoSizeOffset, rs[1].sizeByteCount = 4;  // size bytes without an offset
    rs[2].startLength = 11;                              // longer than the record holds
    rs[3].sizeOffset = 508, rs[3].sizeByteCount = 4;     // the last four bytes: fine
    for (std::size_t i = 0; i < rs.size(); ++i) rs[i].recordIndex = std::uint8_t(i);
    writeAll(dir / "mixed", fileOf(rs));
    RecordingReporter rep;
    std::unique_ptr<myJpg> engine;
    ASSERT_TRUE(loadUserSignatures(dir / "mixed", engine, rep));
    EXPECT_EQ(engine->signatureTypes.size(), 2u);
    EXPECT_EQ(engine->signatureTypes[0].sizeOffset, 508);
    EXPECT_EQ(engine->signatureTypes[1].typeIndex, 1u);
    EXPECT_EQ(rep.messages().size(), 3u);
}

TEST(SignatureLoader, DefaultFileBuiltBesideThePrograms) {
    fs::path p = fs::path(SALVAGE_BINARY_DIR) / "FileSetting.txt";
    ASSERT_TRUE(fs::exists(p)) << p;
    RecordingReporter rep;
    std::unique_ptr<myJpg> engine;
    loadDefaultSignatures(p, engine, rep);
    ASSERT_TRUE(engine);
    EXPECT_TRUE(rep.messages().empty());
    std::set<std::u16string> exts, cats;
    for (const auto& t : engine->signatureTypes) exts.insert(t.extension), cats.insert(t.category);
    for (auto e : {u"jpg", u"png", u"gif", u"bmp", u"tif", u"pdf", u"zip", u"doc", u"rar", u"7z", u"gz", u"mp3",
                   u"wav", u"avi", u"mp4", u"mov", u"db"})
        EXPECT_TRUE(exts.count(e)) << toUtf8(e);
    EXPECT_EQ(cats, (std::set<std::u16string>{u"Images", u"Documents", u"Archives", u"Audio", u"Video", u"Databases"}));
}
}  // namespace
