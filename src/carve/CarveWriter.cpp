#include "carve/CarveWriter.h"

#include <algorithm>
#include <optional>

#include "carve/FormatEnd.h"
#include "platform/Text.h"

namespace salvage {

namespace {
constexpr std::uint32_t kPieceBytes = 1 << 20;
// Finds whose format knows its length from the header need only this much.
constexpr std::uint64_t kHeaderWindowBytes = 1 << 20;
// The first of the small windows tried before it (growing fourfold).
constexpr std::uint64_t kSmallWindowBytes = 64 << 10;
// The read buffer is kept from find to find up to this size.
constexpr std::size_t kKeptBufferBytes = 16 << 20;
}  // namespace

CarveWriter::CarveWriter(readWriteInterface& source, std::int64_t volumeBytes, std::filesystem::path outputFolder,
                         Reporter& reporter)
    : source_(source), volumeBytes_(volumeBytes), folder_(std::move(outputFolder)), reporter_(reporter) {}

std::string CarveWriter::uniqueName(std::uint64_t start, std::u16string_view extension) {
    // Digits of the offset and the extension's letters and digits only: the
    // name can neither leave the folder nor hide as a dot file.
    std::string ext;
    for (char16_t c : extension)
        if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9')) ext.push_back(char(c));
    if (ext.empty()) ext = "bin";
    std::string base = std::to_string(start);
    std::string name = base + "." + ext;
    for (int n = 2; usedNames_.count(name); ++n) name = base + "_" + std::to_string(n) + "." + ext;
    usedNames_.insert(name);
    return name;
}

void CarveWriter::fill(std::uint64_t findStart, std::size_t from, std::size_t to, CarvedFile& out) {
    // One buffer serves every find, so a find costs no fresh allocation nor
    // page faults. Each piece is zeroed before its read (in cache, cheap):
    // what a failed or short read leaves is what it left in a new zeroed
    // buffer, and a bad stretch is never read twice.
    if (buffer_.size() < to) buffer_.resize(to);
    for (std::size_t done = from; done < to; done += kPieceBytes) {
        const auto n = std::uint32_t(std::min<std::size_t>(kPieceBytes, to - done));
        std::fill_n(buffer_.data() + done, n, std::uint8_t(0));
        if (!readAt(source_, std::int64_t(findStart + done), buffer_.data() + done, n)) out.complete = false;
    }
}

std::optional<std::uint64_t> CarveWriter::lastEofEnd(std::uint64_t findStart, std::uint64_t length, std::size_t& headBytes,
                                                    CarvedFile& out) {
    // The last marker of the whole find, searched from its end back one piece
    // at a time through the buffer's first piece: the find usually runs on
    // for megabytes past its file, which need not be held at once. Pieces lie
    // where the doubling windows put them (whole MiB from the find's start),
    // so a failed read leaves the same bytes. Each piece is searched with the
    // few bytes after it, which a marker across the cut and its line end need.
    constexpr std::size_t kAfter = 8;
    if (buffer_.size() < kPieceBytes + kAfter) buffer_.resize(kPieceBytes + kAfter);
    std::uint8_t after[kAfter];
    std::size_t afterBytes = 0;
    std::optional<std::uint64_t> end;
    std::uint64_t piece = length == 0 ? 0 : (length - 1) / kPieceBytes * kPieceBytes;
    for (;; piece -= kPieceBytes) {
        const auto n = std::size_t(std::min<std::uint64_t>(kPieceBytes, length - piece));
        fill(findStart + piece, 0, n, out);
        std::copy(after, after + afterBytes, buffer_.begin() + std::ptrdiff_t(n));
        if (auto e = pdfEofEnd(ByteView(buffer_.data(), n + afterBytes))) {
            end = piece + *e;
            break;
        }
        afterBytes = std::min(kAfter, n);
        std::copy(buffer_.begin(), buffer_.begin() + std::ptrdiff_t(afterBytes), after);
        if (piece == 0) break;
    }
    // The head: the first piece, unless it is the one just read.
    const std::uint64_t reached = end ? piece : 0;
    headBytes = std::size_t(std::min<std::uint64_t>(length, kPieceBytes));
    if (reached != 0) fill(findStart, 0, headBytes, out);
    if (end && !ByteView(buffer_.data(), headBytes).matches(0, "%PDF-")) end.reset();
    // What the doubling windows read and these reads did not (the writing
    // reads up to the end): a known unreadable byte there still marks the
    // find cut.
    const std::uint64_t unreadFrom = std::max<std::uint64_t>(headBytes, end ? *end : length);
    std::vector<ImageRange> damage;
    if (unreadFrom < reached)
        source_.knownDamage(std::uint64_t(source_.baseOffset) + findStart + unreadFrom, reached - unreadFrom, damage);
    if (!damage.empty()) out.complete = false;
    return end;
}

bool CarveWriter::writeOne(const myJpg& engine, std::size_t index, CarvedFile& out) {
    const FoundFile& find = engine.foundFiles[index];
    const SignatureType* type = find.typeIndex < engine.signatureTypes.size() ? &engine.signatureTypes[find.typeIndex] : nullptr;
    out.findIndex = index;
    out.start = find.start;
    out.length = find.length;
    out.extension = type ? type->extension : u"";
    out.category = type ? type->category : u"";
    out.fileName = uniqueName(find.start, out.extension);

    // The bytes the find covers inside the volume.
    std::uint64_t available = find.start < std::uint64_t(std::max<std::int64_t>(volumeBytes_, 0))
                                  ? std::uint64_t(volumeBytes_) - find.start : 0;
    std::uint64_t length = std::min<std::uint64_t>(std::uint64_t(std::max<std::int64_t>(find.length, 0)), available);
    bool pastVolume = length < std::uint64_t(std::max<std::int64_t>(find.length, 0));

    // The find's first bytes, enough to learn where its format ends. A
    // format whose end cannot move once it shows is first tried on small
    // windows; else, and for the formats found by reading through the file,
    // a window that doubles until their end shows up or the whole find (up
    // to the trim window) is read, so a small file in a long find costs a
    // small read. A PDF ends at the last marker of the whole find, which is
    // searched from the find's end back.
    const bool throughFile = formatEndNeedsWholeFind(out.extension);
    const std::uint64_t limit = std::min(length, throughFile ? kTrimWindowBytes : kHeaderWindowBytes);
    const std::uint64_t firstWindow = std::min(limit, kHeaderWindowBytes);
    std::optional<std::uint64_t> end;
    std::size_t headBytes = 0;
    const bool lastEof = formatEndIsLastEof(out.extension) && length <= kTrimWindowBytes;
    for (std::uint64_t window = kSmallWindowBytes; !lastEof && window < firstWindow; window *= 4) {
        fill(find.start, headBytes, std::size_t(window), out);
        headBytes = std::size_t(window);
        end = formatEndSettled(out.extension, ByteView(buffer_.data(), headBytes), length);
        if (end) break;
    }
    if (lastEof) {
        end = lastEofEnd(find.start, length, headBytes, out);
    } else if (end) {
        // The first window was read whole before: a known unreadable byte
        // in it (or one past the image's end) still marks the find cut.
        const std::uint64_t readTo = std::max<std::uint64_t>(headBytes, *end);
        std::vector<ImageRange> damage;
        if (readTo < firstWindow)
            source_.knownDamage(std::uint64_t(source_.baseOffset) + find.start + readTo, firstWindow - readTo, damage);
        if (!damage.empty()) out.complete = false;
    } else {
        for (std::uint64_t window = firstWindow;; window = std::min(limit, window * 2)) {
            fill(find.start, std::min<std::size_t>(headBytes, std::size_t(window)), std::size_t(window), out);
            headBytes = std::size_t(window);
            end = formatEnd(out.extension, ByteView(buffer_.data(), headBytes), length);
            if (end || window >= limit) break;
        }
    }
    if (end) {
        out.trimmed = *end < length;
        length = *end;
        pastVolume = false;  // the file ends inside the volume
    }
    if (pastVolume) out.complete = false;

    auto file = output_.create(output_.root(), out.fileName);
    if (!file) {
        reporter_.message(u16("cannot create " + (folder_ / out.fileName).string() + ": " + output_.error()), u"",
                          MessageIcon::Error);
        out.complete = false;
        return false;
    }
    out.fileName = file->name();  // a name taken by a link gives the next numbered one
    bool ok = file->write(buffer_.data(), std::size_t(std::min<std::uint64_t>(headBytes, length)));
    for (std::uint64_t at = headBytes; ok && at < length; at += kPieceBytes) {
        if (pollStop()) {
            out.complete = false;  // stopped inside the file: the report says it is cut short
            break;
        }
        // The rest goes through the buffer's first piece: the head is written.
        const auto n = std::size_t(std::min<std::uint64_t>(kPieceBytes, length - at));
        fill(find.start + at, 0, n, out);
        ok = file->write(buffer_.data(), n);
    }
    if (buffer_.size() > kKeptBufferBytes) {
        buffer_.clear();  // a long window is not kept for the next find
        buffer_.shrink_to_fit();
    }
    if (!file->finish() || !ok) {
        reporter_.message(u16("cannot write " + (folder_ / out.fileName).string() + ": " + file->error()), u"",
                          MessageIcon::Error);
        out.complete = false;
        out.writtenBytes = 0;
        out.fileName.clear();
        return false;
    }
    out.writtenBytes = file->size();
    out.md5 = file->digest().md5;
    out.sha256 = file->digest().sha256;
    return true;
}

bool CarveWriter::write(const myJpg& engine, const std::vector<std::size_t>& findIndices) {
    if (!output_.open(folder_)) {
        reporter_.message(u16("cannot create folder " + folder_.string() + ": " + output_.error()), u"",
                          MessageIcon::Error);
        return false;
    }
    output_.reserve(output_.root(), kCarveReportName);
    reporter_.setProgressRange(0, std::int64_t(findIndices.size()));
    std::int64_t done = 0;
    for (std::size_t index : findIndices) {
        reporter_.setProgressPosition(done++);
        if (pollStop()) break;
        if (index >= engine.foundFiles.size()) continue;
        CarvedFile c;
        writeOne(engine, index, c);
        carved_.push_back(std::move(c));
    }
    reporter_.setProgressPosition(done);
    return writeReport();
}

bool CarveWriter::writeReport() {
    std::string text = "offset,length,written,type,category,md5,sha256,trimmed,complete,file\n";
    for (const CarvedFile& c : carved_)
        text += formatNarrow("%llu,%lld,%llu,", (unsigned long long)c.start, (long long)c.length,
                             (unsigned long long)c.writtenBytes) +
                csvCell(toUtf8(c.extension)) + ',' + csvCell(toUtf8(c.category)) + ',' + c.md5 + ',' + c.sha256 + ',' +
                (c.trimmed ? "yes" : "no") + ',' + (c.complete ? "yes" : "no") + ',' + csvCell(c.fileName) + '\n';
    const auto written = output_.writeWhole(output_.root(), kCarveReportName, text);
    if (!written) {
        reporter_.message(u16("cannot create " + (folder_ / kCarveReportName).string() + ": " + output_.error()), u"",
                          MessageIcon::Error);
        return false;
    }
    reportPath_ = *written;
    return true;
}

}  // namespace salvage
