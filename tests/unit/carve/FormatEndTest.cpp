#include <gtest/gtest.h>

#include <fstream>
#include <optional>

#include "CarveTestSupport.h"
#include "TestPaths.h"
#include "carve/CarveWriter.h"
#include "carve/FormatEnd.h"
#include "platform/Text.h"

using namespace salvage;
using namespace salvage::test;
namespace fs = std::filesystem;

namespace {
std::vector<std::uint8_t> readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Every planted file of the carving fixture, measured inside a find that
// runs on past it (into zeros and into another file's bytes), and cut short.
TEST(FormatEnd, RealFilesEndWhereTheyEnd) {
    fs::path dir;
    if (!requireFixture("carve_files", dir)) return;
    std::vector<std::uint8_t> junk = readAll(dir / "c.png");
    int measured = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        auto name = entry.path().filename().string();
        if (name == "z_cut.jpg") continue;
        std::u16string ext = u16(entry.path().extension().string().substr(1));
        std::vector<std::uint8_t> file = readAll(entry.path());
        std::vector<std::uint8_t> find = file;
        find.resize(file.size() + 5000, 0);
        find.insert(find.end(), junk.begin(), junk.begin() + 3000);
        auto end = formatEnd(ext, ByteView(find), find.size());
        ASSERT_TRUE(end) << name;
        EXPECT_EQ(*end, file.size()) << name;
        // A find that ends before the file does: no end to trim to.
        std::vector<std::uint8_t> cut(file.begin(), file.begin() + file.size() / 2);
        EXPECT_FALSE(formatEnd(ext, ByteView(cut), cut.size())) << name;
        ++measured;
    }
    EXPECT_EQ(measured, 12);
}

TEST(FormatEnd, DamagedStructuresGiveNoEnd) {
    auto bytes = [](std::string s) { return std::vector<std::uint8_t>(s.begin(), s.end()); };
    // JPEG whose segment claims a length below 2; EOI before any scan.
    auto jpg = bytes(std::string("\xFF\xD8\xFF\xE0\x00\x01", 6));
    EXPECT_FALSE(jpegEnd(ByteView(jpg)));
    auto early = bytes(std::string("\xFF\xD8\xFF\xD9", 4));
    EXPECT_FALSE(jpegEnd(ByteView(early)));
    // PNG chunk length beyond the find.
    auto png = bytes(std::string("\x89PNG\r\n\x1A\n\xFF\xFF\xFF\xF0IHDR", 16));
    png.resize(64, 0);
    EXPECT_FALSE(pngEnd(ByteView(png)));
    // GIF that ends inside its sub-blocks.
    auto gif = bytes(std::string("GIF89a\x01\x00\x01\x00\x00\x00\x00\x21\xF9\x04", 16));
    EXPECT_FALSE(gifEnd(ByteView(gif)));
    // ZIP end record whose directory does not lie before it.
    auto zip = bytes(std::string("PK\x03\x04", 4));
    zip.resize(100, 0);
    auto eocd = std::string("PK\x05\x06\0\0\0\0\1\0\1\0\x10\0\0\0\x05\0\0\0\0\0", 22);
    zip.insert(zip.end(), eocd.begin(), eocd.end());
    EXPECT_FALSE(zipEnd(ByteView(zip)));
    // TIFF whose IFD points at itself ends all the same.
    std::vector<std::uint8_t> tif = {'I', 'I', 0x2A, 0, 8, 0, 0, 0, 0, 0, 8, 0, 0, 0};
    EXPECT_EQ(tiffEnd(ByteView(tif)), 14u);
    // 7z offsets that overflow, SQLite with a page size that is no power of two.
    std::vector<std::uint8_t> sz = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};
    sz.resize(32, 0xFF);
    EXPECT_FALSE(sevenZipEnd(ByteView(sz)));
    auto db = bytes(std::string("SQLite format 3\0\x03\x00", 18));
    db.resize(100, 0);
    db[31] = 1;
    EXPECT_FALSE(sqliteEnd(ByteView(db)));
    // Unknown formats are never trimmed.
    EXPECT_FALSE(formatEnd(u"mp3", ByteView(jpg), jpg.size()));
}

// The last %%EOF ends a PDF (incremental updates append more), with its
// line end; stray '%' after it, a cut-off marker, and one that closes the
// find exactly are told apart.
TEST(FormatEnd, PdfEndsAtItsLastEof) {
    const struct {
        std::string text;
        std::optional<std::uint64_t> end;
    } cases[] = {
        {"%PDF-1.4 a %%EOF\r\n b %%EOF\n %% 50% %%EO", 27},
        {"%PDF-1.4 %%EOF", 14},
        {"%PDF-1.4 %%EOF%", 14},
        {"%PDF-1.4 %%%EOF\n%", 16},
        {"%PDF-1.4 %%EO", std::nullopt},
        {"%PDF-", std::nullopt},
    };
    for (const auto& c : cases) {
        std::vector<std::uint8_t> d(c.text.begin(), c.text.end());
        EXPECT_EQ(pdfEnd(ByteView(d)), c.end) << c.text;
    }
}

// Real files with bytes changed and parts cut off: every walk stays inside
// its bytes (ASan watches) and never names an end past the find.
TEST(FormatEnd, MutatedFilesStayBounded) {
    fs::path dir;
    if (!requireFixture("carve_files", dir)) return;
    std::uint64_t x = 0x9E3779B97F4A7C15ull;
    auto next = [&] { return x ^= x << 13, x ^= x >> 7, x ^= x << 17; };
    for (const auto& entry : fs::directory_iterator(dir)) {
        std::u16string ext = u16(entry.path().extension().string().substr(1));
        const std::vector<std::uint8_t> file = readAll(entry.path());
        for (int round = 0; round < 60; ++round) {
            std::vector<std::uint8_t> m = file;
            for (int k = 0; k < 1 + round % 8; ++k) {
                std::size_t at = next() % std::min<std::size_t>(m.size(), round % 2 ? 64 : m.size());
                m[at] = std::uint8_t(next());  // header damage on odd rounds
            }
            m.resize(std::size_t(next() % (m.size() + 1)));
            auto end = formatEnd(ext, ByteView(m), m.size());
            if (end) {
                EXPECT_LE(*end, m.size());
            }
        }
    }
}

TEST(CarveWriter, WritesTrimmedFilesNamedByOffsetInsideTheFolder) {
    fs::path files;
    if (!requireFixture("carve_files", files)) return;
    auto png = readAll(files / "g.png");
    Volume v(1 << 20);
    std::copy(png.begin(), png.end(), v.bytes.begin() + 4096);
    v.put(32768, {0x77, 0x77});
    std::copy(png.begin(), png.begin() + 1024, v.bytes.end() - 1024);  // runs past the volume
    Scan s({record(u"png", {0x89, 0x50}, {}, u"Images", 1 << 20), record(u"../x", {0x77, 0x77}, {}, u"A,\"B\"", 100)},
           v.bytes);
    s.run();
    ASSERT_EQ(s.engine.foundFiles.size(), 3u);
    s.engine.foundFiles.push_back({4096, -7, 0});  // a negative length writes nothing

    fs::path out = scratchDir("carve_writer");
    // A link planted in the folder is not followed: the find takes the next
    // name and the link's target stays as it was.
    fs::path target = out / "target";
    std::ofstream(target) << "keep";
    fs::create_symlink(target, out / "4096.png");
    RecordingReporter rep;
    CarveWriter w(s.source, std::int64_t(v.bytes.size()), out, rep);
    EXPECT_TRUE(w.write(s.engine, {0, 1, 2, 3, 0, 99}));
    EXPECT_EQ(readAll(target), (std::vector<std::uint8_t>{'k', 'e', 'e', 'p'}));
    EXPECT_TRUE(fs::is_symlink(out / "4096.png"));
    EXPECT_TRUE(rep.messages().empty());

    const auto& c = w.carved();
    ASSERT_EQ(c.size(), 5u);  // index 99 does not exist
    EXPECT_EQ(c[0].fileName, "4096 (2).png");
    EXPECT_EQ(c[1].fileName, "32768.x");  // only letters and digits of the extension
    EXPECT_EQ(c[1].writtenBytes, 100u);
    EXPECT_EQ(c[2].fileName, "1047552.png");
    EXPECT_EQ(c[2].writtenBytes, 1024u);
    EXPECT_FALSE(c[2].complete);
    EXPECT_EQ(c[3].writtenBytes, 0u);
    EXPECT_EQ(c[4].fileName, "4096_3.png");  // each write of one offset gets its own name
    EXPECT_TRUE(c[4].trimmed);
    EXPECT_EQ(readAll(out / "4096_3.png"), png);
    EXPECT_EQ(c[4].sha256, sha256File(out / "4096_3.png"));
    EXPECT_EQ(c[4].md5, md5File(out / "4096_3.png"));
    std::ifstream report(out / kCarveReportName);
    std::string header, line;
    std::getline(report, header);
    std::getline(report, line);
    std::getline(report, line);
    EXPECT_EQ(line.substr(0, 29), "32768,100,100,../x,\"A,\"\"B\"\"\",");
    for (const auto& entry : fs::directory_iterator(out)) EXPECT_EQ(entry.path().parent_path(), out);

    // Finds that run on past their file's end, one of them past the image's
    // end inside a volume that claims more: the file is measured on a small
    // window, yet the find whose first 1 MiB window reaches past the image
    // is still reported cut, as when that window was read whole.
    std::vector<std::uint8_t> image = v.bytes;
    std::copy(png.begin(), png.end(), image.end() - (200 << 10));
    Scan tail({record(u"png", {0x89, 0x50}, {}, u"Images", 1 << 20)}, image);
    tail.engine.foundFiles = {{4096, 700 << 10, 0}, {image.size() - (200 << 10), 700 << 10, 0}};
    fs::path out2 = scratchDir("carve_writer_tail");
    CarveWriter w2(tail.source, std::int64_t(v.bytes.size()) * 2, out2);
    EXPECT_TRUE(w2.write(tail.engine, {0, 1}));
    ASSERT_EQ(w2.carved().size(), 2u);
    EXPECT_TRUE(w2.carved()[0].complete);
    EXPECT_TRUE(w2.carved()[0].trimmed);
    EXPECT_EQ(readAll(out2 / "4096.png"), png);
    EXPECT_FALSE(w2.carved()[1].complete);
    EXPECT_EQ(w2.carved()[1].writtenBytes, png.size());

    // A PDF find of 3 MiB whose last marker straddles the first MiB's end,
    // its CR LF in the next MiB, '%' bytes and a cut-off marker after it:
    // searched piece by piece from the end, it ends where pdfEnd of the
    // whole find says.
    std::vector<std::uint8_t> pdf(3 << 20, '%');
    const std::string parts[] = {"%PDF-1.4\n%%EOF\n", "%%EOF\r\n", "%%EO"};
    std::copy(parts[0].begin(), parts[0].end(), pdf.begin());
    std::copy(parts[1].begin(), parts[1].end(), pdf.begin() + (1 << 20) - 3);
    std::fill(pdf.begin() + (1 << 20) + 4, pdf.end() - 4, 'x');
    std::copy(parts[2].begin(), parts[2].end(), pdf.end() - 4);
    Scan doc({record(u"pdf", {'%', 'P'}, {}, u"Documents", 4 << 20)}, pdf);
    doc.engine.foundFiles = {{0, 3 << 20, 0}};
    fs::path out3 = scratchDir("carve_writer_pdf");
    CarveWriter w3(doc.source, std::int64_t(pdf.size()), out3);
    EXPECT_TRUE(w3.write(doc.engine, {0}));
    ASSERT_EQ(pdfEnd(ByteView(pdf)), std::uint64_t((1 << 20) + 4));
    EXPECT_EQ(w3.carved()[0].writtenBytes, (1u << 20) + 4);
    EXPECT_TRUE(w3.carved()[0].complete);
    EXPECT_EQ(readAll(out3 / "0.pdf"), std::vector<std::uint8_t>(pdf.begin(), pdf.begin() + (1 << 20) + 4));
}
}  // namespace
