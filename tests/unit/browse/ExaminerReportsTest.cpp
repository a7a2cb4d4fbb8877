// The examiners' formats: body-file lines, DFXML text, and the check of a
// saved copy against the image through its byte runs.
#include <gtest/gtest.h>

#include <fstream>

#include "TestPaths.h"
#include "browse/Bodyfile.h"
#include "browse/Dfxml.h"
#include "browse/SaveVerify.h"

using namespace salvage;
namespace fs = std::filesystem;

namespace {
constexpr UnixNanos kSec = 1000000000;

void writeFile(const fs::path& p, const std::vector<std::uint8_t>& bytes) {
    std::ofstream f(p, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}
}  // namespace

TEST(Bodyfile, LinesFollowTheBodyFormat) {
    struct Case {
        const char* what;
        BodyfileEntry entry;
        std::string line;
    };
    RecordMeta ext;
    ext.access = 1577836800 * kSec + 999999999;  // fractions are cut, not rounded
    ext.modification = 1577836799 * kSec;
    ext.change = 1577836801 * kSec;
    ext.mode = 0100640;
    ext.uid = 1000;
    ext.gid = 100;
    RecordMeta before1970;
    before1970.modification = -kSec / 2;  // half a second before the epoch is second -1
    RecordMeta special;
    special.mode = 0104755 | 01000;
    RecordMeta noExec;
    noExec.mode = 0106644;
    const Case cases[] = {
        {"ext file with owner and three times", {"", u"/docs/a.txt", false, false, 12, 5, ext},
         "0|/docs/a.txt|12|r/rrw-r-----|1000|100|5|1577836800|1577836799|1577836801|0"},
        {"deleted, no mode: every permission, as file systems without permissions show",
         {"", u"/gone.bin", true, false, 7, 3, {}}, "0|/gone.bin (deleted)|7|r/rrwxrwxrwx|0|0|3|0|0|0|0"},
        {"folder without mode", {"", u"/dir", false, true, 5, 0, {}}, "0|/dir|5|d/drwxrwxrwx|0|0|0|0|0|0|0"},
        {"md5 given; pipe and controls cannot break the fields",
         {"d41d8cd98f00b204e9800998ecf8427e", u"/a|b\tc\x7f", false, false, 1, 0, {}},
         "d41d8cd98f00b204e9800998ecf8427e|/a^b^c^|1|r/rrwxrwxrwx|0|0|0|0|0|0|0"},
        {"time before 1970", {"", u"/old", false, false, 2, 0, before1970}, "0|/old|2|r/rrwxrwxrwx|0|0|0|0|-1|0|0"},
        {"set-id and sticky over x", {"", u"/s", false, false, 3, 0, special}, "0|/s|3|r/rrwsr-xr-t|0|0|0|0|0|0|0"},
        {"set-id without x", {"", u"/S", false, false, 4, 0, noExec}, "0|/S|4|r/rrwSr-Sr--|0|0|0|0|0|0|0"},
        {"non-ASCII name stays UTF-8", {"", u"/caf\u00e9", false, false, 9, 0, {}},
         "0|/caf\xc3\xa9|9|r/rrwxrwxrwx|0|0|0|0|0|0|0"},
    };
    for (const Case& c : cases) EXPECT_EQ(bodyfileLine(c.entry), c.line) << c.what;

    EXPECT_EQ(bodyfilePath(u"ROOT\\docs\\a.txt"), u"/docs/a.txt");
    EXPECT_EQ(bodyfilePath(u"ROOT"), u"/");
    EXPECT_EQ(bodyfileMode(0120777, false), "l/lrwxrwxrwx");
    EXPECT_EQ(bodyfileMode(0040755, false), "d/drwxr-xr-x");  // the mode's type wins over the flag
}

TEST(Dfxml, EscapesNamesAndWritesRunsOfEveryKind) {
    SavedFile s;
    s.volumePath = u"ROOT\\d\\<a&b>\"q'\x01.txt";
    s.written = "/out/d/a.txt";
    s.recordNumber = 42;
    s.deleted = true;
    s.expectedSize = 9000;
    s.md5 = "m";
    s.sha256 = "s";
    s.status = SaveStatus::Damaged;
    s.times.modification = 1577836800 * kSec;
    s.runs = {{0, 4096, 1048576, 0, ByteRun::Kind::Data},
              {4096, 4096, std::nullopt, 0, ByteRun::Kind::Sparse},
              {8192, 700, 2097152, 300, ByteRun::Kind::Compressed},
              {8892, 108, 3000, 0, ByteRun::Kind::Resident}};
    s.damaged = {{100, 50, 1048676}};
    DfxmlDocument doc;
    doc.imagePath = "/img/disk.E01";
    doc.imageSize = 4194304;
    doc.acquisitionMd5 = "0123";
    doc.volumes.push_back({1048576, "NTFS", {dfxmlFileObject(s, "/out")}});
    const std::string x = dfxmlText(doc);

    const char* expected[] = {
        "<image_filename>/img/disk.E01</image_filename>",
        "<image_size>4194304</image_size>",
        "<hashdigest type=\"md5\">0123</hashdigest>",
        "<volume offset=\"1048576\">",
        "<ftype_str>NTFS</ftype_str>",
        // markup escaped, the control character replaced: the file stays well-formed
        "<filename>d/&lt;a&amp;b&gt;&quot;q&apos;\xEF\xBF\xBD.txt</filename>",
        "<filesize>9000</filesize>",
        "<unalloc>1</unalloc>",
        "<inode>42</inode>",
        "<mtime>2020-01-01T00:00:00.000000000Z</mtime>",
        "<byte_run file_offset=\"0\" img_offset=\"1048576\" len=\"4096\"/>",
        "<byte_run file_offset=\"4096\" len=\"4096\" fill=\"0\" type=\"sparse\"/>",
        "<byte_run file_offset=\"8192\" img_offset=\"2097152\" len=\"300\" uncompressed_len=\"700\" type=\"compressed\"/>",
        "<byte_run file_offset=\"8892\" img_offset=\"3000\" len=\"108\" type=\"resident\"/>",
        "<s:saved_as>d/a.txt</s:saved_as>",
        "<s:status>damaged</s:status>",
        "<s:range file_offset=\"100\" img_offset=\"1048676\" len=\"50\"/>",
    };
    for (const char* e : expected) EXPECT_NE(x.find(e), std::string::npos) << e << "\n" << x;
    EXPECT_EQ(x.find("<ctime>"), std::string::npos);  // unknown times are left out

    // Bytes that are not UTF-8 never reach the file as they are.
    EXPECT_EQ(xmlEscape("a\xff\xc0\xafz\xed\xa0\x80"), "a\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBDz\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(xmlEscape("tab\there\nline"), "tab&#9;here&#10;line");
}

TEST(SaveVerify, FindsCopiesThatNoLongerMatchTheImage) {
    // Image: 64 KiB of a pattern; the file is 8 KiB from offset 4096, then
    // a 1 KiB hole, then 1 KiB from offset 40960.
    std::vector<std::uint8_t> image(65536);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = std::uint8_t(i * 7 + i / 256);
    MemorySource src(image);
    src.baseOffset = 12345;  // the check reads absolute offsets and restores this
    std::vector<std::uint8_t> content(image.begin() + 4096, image.begin() + 4096 + 8192);
    content.resize(content.size() + 1024, 0);
    content.insert(content.end(), image.begin() + 40960, image.begin() + 40960 + 1024);

    const fs::path dir = salvage::test::scratchDir("save_verify");
    SavedFile s;
    s.volumePath = u"ROOT\\f.bin";
    s.written = dir / "f.bin";
    s.runs = {{0, 8192, 4096, 0, ByteRun::Kind::Data},
              {8192, 1024, std::nullopt, 0, ByteRun::Kind::Sparse},
              {9216, 1024, 40960, 0, ByteRun::Kind::Data}};
    writeFile(s.written, content);
    s.md5 = salvage::test::md5File(s.written);
    s.sha256 = salvage::test::sha256File(s.written);
    EXPECT_EQ(verifySavedFile(src, s), "");
    EXPECT_EQ(src.baseOffset, 12345);

    // A copy changed after the save fails on its digest.
    std::vector<std::uint8_t> changed = content;
    changed[5000] ^= 1;
    writeFile(s.written, changed);
    EXPECT_NE(verifySavedFile(src, s).find("MD5"), std::string::npos);

    // Without digests the runs still find the byte, with its place on the image.
    SavedFile runsOnly = s;
    runsOnly.md5.clear();
    runsOnly.sha256.clear();
    EXPECT_EQ(verifySavedFile(src, runsOnly), "differs from the image at file offset 5000 (image offset 9096)");
    // ... unless it lies inside a damaged range, whose bytes the image could not give.
    runsOnly.damaged = {{4990, 20, 9086}};
    EXPECT_EQ(verifySavedFile(src, runsOnly), "");

    // Data where the file is sparse, and a copy shorter than its runs.
    changed = content;
    changed[8200] = 9;
    writeFile(s.written, changed);
    EXPECT_EQ(verifySavedFile(src, runsOnly), "holds data at file offset 8200 where the file is sparse");
    changed.resize(9300);
    writeFile(s.written, changed);
    runsOnly.runs.erase(runsOnly.runs.begin() + 1);
    EXPECT_EQ(verifySavedFile(src, runsOnly), "the saved copy ends before file offset 10240");

    // The runs point at an image that no longer holds those bytes.
    writeFile(s.written, content);
    image[41000] ^= 0x80;
    MemorySource other(image);
    EXPECT_EQ(verifySavedFile(other, s), "differs from the image at file offset 9256 (image offset 41000)");

    fs::remove(s.written);
    EXPECT_EQ(verifySavedFile(src, s), "the saved copy cannot be read");
}
