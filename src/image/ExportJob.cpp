#include "image/ExportJob.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "image/EwfHandle.h"
#include "image/ExportOutput.h"
#include "image/ImageOpen.h"
#include "image/SplitRawSource.h"
#include "platform/Text.h"

namespace salvage {

namespace {

// The read unit of a raw source, which has no chunks of its own: one
// sector, so a bad sector of a device costs no more than itself.
constexpr std::uint32_t kRawSourceChunkBytes = 512;
// The copy moves this many bytes (rounded down to whole chunks) per step.
constexpr std::uint32_t kCopyUnitBytes = 1u << 20;
// Chunks above this are refused: the copy buffer holds one, and so does
// libewf for every chunk it reads.
constexpr std::uint32_t kMaxChunkBytes = kMaxEwfChunkBytes;
// Segment sizes from here on are out of range and replaced by the default.
constexpr std::uint64_t kMaxSegmentBytes = 9223372036854775807ull;

bool validSectorsPerChunk(std::uint32_t value) {
    for (std::uint32_t p = 16; p <= 32768; p <<= 1)
        if (value == p) return true;
    return false;
}

// Adds [offset, offset + length) to sorted, merged ranges: merged into the
// last range when it touches it, appended otherwise. A range before the
// last one is appended too (never swallowed by a later range), so nothing
// is lost when the caller sorts afterwards.
void addRange(std::vector<ByteRange>& ranges, std::uint64_t offset, std::uint64_t length) {
    if (length == 0) return;
    if (!ranges.empty() && ranges.back().offset <= offset &&
        ranges.back().offset + ranges.back().length >= offset) {
        const std::uint64_t end = std::max(ranges.back().offset + ranges.back().length, offset + length);
        ranges.back().length = end - ranges.back().offset;
        return;
    }
    ranges.push_back({offset, length});
}

// The media being exported: an EWF segment set read through libewf, or a
// raw image file or device.
class ExportSource : public ExportInput {
public:
    ~ExportSource() override {
        if (fd_ >= 0) ::close(fd_);
    }

    bool open(const std::vector<std::string>& files) {
        if (files.size() == 1 && !looksLikeEwf(files[0])) return openRaw(files[0]);
        if (!ewf_.create(error_) || !ewf_.openSegments(files, error_)) return false;
        libewf_handle_t* h = ewf_.get();
        size32_t chunk = 0;
        size64_t media = 0;
        std::uint32_t sectorBytes = 512;
        bool ok = libewf_handle_set_header_codepage(h, LIBEWF_CODEPAGE_ASCII, error_.out()) == 1 &&
                  libewf_handle_get_chunk_size(h, &chunk, error_.out()) == 1 &&
                  libewf_handle_get_media_size(h, &media, error_.out()) == 1 &&
                  // A chunk that fails its checksum reads as zeros, never as
                  // its damaged bytes; readAt lists it as damaged.
                  libewf_handle_set_read_zero_chunk_on_error(h, 1, error_.out()) == 1;
        if (ok && libewf_handle_get_bytes_per_sector(h, &sectorBytes, error_.out()) == 1 && sectorBytes != 0)
            sectorBytes_ = sectorBytes;
        error_.reset();
        chunkBytes_ = chunk;
        mediaBytes_ = media;
        return ok && chunk >= 1 && chunk <= kMaxChunkBytes;
    }

    void* ewfHandle() const override { return fd_ >= 0 || split_ ? nullptr : ewf_.get(); }
    std::uint64_t mediaBytes() const override { return mediaBytes_; }
    std::uint32_t chunkBytes() const override { return chunkBytes_; }

    bool readAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t bytes,
                std::vector<ByteRange>& damaged) override {
        if (fd_ >= 0 || split_) return readRaw(offset, buffer, bytes, damaged);
        error_.reset();
        ssize_t got = libewf_handle_read_random(ewf_.get(), buffer, bytes, off64_t(offset), error_.out());
        if (got < 0) return false;
        // Short of the media end: the part not delivered is unreadable.
        if (std::size_t(got) < bytes) {
            std::fill(buffer + got, buffer + bytes, std::uint8_t(0));
            addRange(damaged, offset + std::uint64_t(got), bytes - std::size_t(got));
        }
        checksumDamage(offset, bytes, damaged);
        return true;
    }

    std::string storedHash(const char* name) override {
        if (fd_ >= 0 || split_) return {};
        std::uint8_t value[129] = {};
        error_.reset();
        if (libewf_handle_get_utf8_hash_value(ewf_.get(), reinterpret_cast<const std::uint8_t*>(name),
                                              std::strlen(name), value, sizeof value, error_.out()) != 1)
            return {};
        std::string out(reinterpret_cast<const char*>(value));
        for (char& c : out) c = char(std::tolower((unsigned char)c));
        return out;
    }

private:
    bool openRaw(const std::string& path) {
        // A piece of a split raw set stands for the whole set, as the
        // readers take it; copying the one piece would pass a part off as
        // the image.
        if (!splitRawPieces(path).empty()) {
            split_ = std::make_unique<FileReadSeekSplit>();
            if (!split_->open(path)) return false;
            mediaBytes_ = split_->length();
            chunkBytes_ = kRawSourceChunkBytes;
            return true;
        }
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) return false;
        off_t end = ::lseek(fd_, 0, SEEK_END);
        if (end < 0) return false;
        mediaBytes_ = std::uint64_t(end);
        chunkBytes_ = kRawSourceChunkBytes;
        return true;
    }

    bool readRaw(std::uint64_t offset, std::uint8_t* buffer, std::size_t bytes, std::vector<ByteRange>& damaged) {
        if (split_) {
            // Reads are at most the copy unit, well inside 32 bits.
            return split_->seek(std::int64_t(offset)) && split_->read(buffer, std::uint32_t(bytes));
        }
        std::size_t got = 0;
        while (got < bytes) {
            ssize_t n = ::pread(fd_, buffer + got, bytes - got, off_t(offset + got));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return false;
            if (n == 0) break;
            got += std::size_t(n);
        }
        // A file that ends before its size said: the rest is unreadable.
        if (got < bytes) {
            std::fill(buffer + got, buffer + bytes, std::uint8_t(0));
            addRange(damaged, offset + got, bytes - got);
        }
        return true;
    }

    // The chunks libewf could not deliver (corrupt, or in a segment that is
    // missing or cut) inside [offset, offset + bytes). libewf merges
    // neighbouring ranges, so an entry seen before may have grown: every
    // entry is looked at.
    void checksumDamage(std::uint64_t offset, std::size_t bytes, std::vector<ByteRange>& damaged) {
        std::uint32_t errors = 0;
        error_.reset();
        if (libewf_handle_get_number_of_checksum_errors(ewf_.get(), &errors, error_.out()) != 1) return;
        for (std::uint32_t i = 0; i < errors; ++i) {
            std::uint64_t start = 0, count = 0;
            error_.reset();
            if (libewf_handle_get_checksum_error(ewf_.get(), i, &start, &count, error_.out()) != 1) continue;
            // In bytes, clamped to the read, without overflow.
            if (count == 0 || start > UINT64_MAX / sectorBytes_) continue;
            const std::uint64_t first = std::max(start * sectorBytes_, offset);
            const std::uint64_t last = count > (UINT64_MAX - start * sectorBytes_) / sectorBytes_
                                           ? UINT64_MAX
                                           : start * sectorBytes_ + count * sectorBytes_;
            const std::uint64_t end = std::min<std::uint64_t>(last, offset + bytes);
            if (first < end) addRange(damaged, first, end - first);
        }
    }

    EwfError error_;
    EwfHandle ewf_;
    int fd_ = -1;
    std::unique_ptr<FileReadSeekSplit> split_;
    std::uint64_t mediaBytes_ = 0;
    std::uint32_t chunkBytes_ = 0;
    std::uint32_t sectorBytes_ = 512;
};

// MD5 or SHA-1 over the copied bytes.
struct Digest {
    explicit Digest(const EVP_MD* md) : ctx(EVP_MD_CTX_new()) { EVP_DigestInit_ex(ctx, md, nullptr); }
    ~Digest() { EVP_MD_CTX_free(ctx); }
    Digest(const Digest&) = delete;
    Digest& operator=(const Digest&) = delete;
    void add(const std::uint8_t* data, std::size_t bytes) { EVP_DigestUpdate(ctx, data, bytes); }
    std::string hex() {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        EVP_DigestFinal_ex(ctx, digest, &length);
        std::string out;
        for (unsigned i = 0; i < length; ++i) out += formatNarrow("%02x", digest[i]);
        return out;
    }
    EVP_MD_CTX* ctx;
};


// True when [offset, offset + size) lies inside the media. The whole-media
// size is accepted at offset 0; a negative offset never.
bool rangeFits(std::int64_t offset, std::uint64_t size, std::uint64_t media) {
    if (offset < 0 || size > media) return false;
    if (offset == 0) return true;
    return std::uint64_t(offset) < media && media - std::uint64_t(offset) >= size;
}

}  // namespace

std::u16string extractedText(std::int64_t perMille) {
    float percent = float(perMille) / 1000.0f * 100.0f;
    return format16("%f %% extracted", double(percent));
}

std::u16string exportOutcomeText(const ExportResult& r) {
    switch (r.outcome) {
        case ExportOutcome::Done: return u"done";
        case ExportOutcome::Stopped:
            return format16("stopped: the output holds the first %llu of %llu bytes and is marked partial",
                            (unsigned long long)r.bytesCopied, (unsigned long long)r.bytesRequested);
        case ExportOutcome::Damaged: {
            std::uint64_t zeros = 0;
            for (const ByteRange& b : r.unreadable) zeros += b.length;
            return format16("finished with damage: %zu unreadable range(s), %llu bytes, written as zeros",
                            r.unreadable.size(), (unsigned long long)zeros);
        }
        case ExportOutcome::HashMismatch:
            return format16("hash MISMATCH: the image's stored %s is %s, the copy's is %s", r.hashName.c_str(),
                            r.storedHash.c_str(), r.copyHash.c_str());
        case ExportOutcome::ReadFailed:
            return format16("failed: the image could not be read at offset %llu; the output holds the %llu bytes "
                            "before it and is marked partial",
                            (unsigned long long)r.failedAt, (unsigned long long)r.bytesCopied);
        case ExportOutcome::WriteFailed:
            return format16("failed: the output could not be written after %llu bytes",
                            (unsigned long long)r.bytesCopied);
        case ExportOutcome::RangeRejected: return u"nothing was extracted: the range does not fit the media";
        case ExportOutcome::Refused: return u"nothing was written: the output name was refused";
        case ExportOutcome::Failed: return u"failed: nothing was extracted";
    }
    return u"failed";
}

ExportJob::ExportJob(ExportSettings settings, Reporter& reporter)
    : settings_(std::move(settings)), reporter_(&reporter) {}

ExportResult ExportJob::run(ExportInput* input) {
    ExportResult result;
    auto say = [&](const std::u16string& text) { reporter_->message(text, u"", MessageIcon::Information); };
    const ExportSettings& s = settings_;

    ExportSource opened;
    if (!input) {
        std::vector<std::string> files;
        if (!resolveImagePattern(s.imagePath, files)) {
            say(u"Unable to resolve global values.\n");
            return result;
        }
        if (files.empty() || !opened.open(files)) {
            say(u"Unable to open the image.\n");
            return result;
        }
        input = &opened;
    }
    ExportInput& source = *input;
    const std::uint32_t sectorsPerChunk = s.info.sectorsPerChunk;
    if (sectorsPerChunk != 0 && !validSectorsPerChunk(sectorsPerChunk)) {
        say(u"Unable to set sectors per chunk.");
        return result;
    }
    const std::uint32_t chunk = source.chunkBytes();
    if (chunk == 0 || chunk > kMaxChunkBytes) {
        say(u"Unable to open the image.\n");
        return result;
    }
    std::uint64_t segmentBytes = s.maximumSegmentSize;
    if (segmentBytes >= kMaxSegmentBytes) {
        segmentBytes = kExportDefaultSegmentBytes;
        result.segmentSizeReplaced = true;
    }
    const std::uint64_t media = source.mediaBytes();
    const std::uint64_t exportBytes = s.exportSize > 0 ? std::uint64_t(s.exportSize) : media;
    result.bytesRequested = exportBytes;

    // The range is checked before any output exists, so a range that does
    // not fit leaves no empty image behind.
    if (!rangeFits(s.exportOffset, exportBytes, media)) {
        result.outcome = ExportOutcome::RangeRejected;
        say(format16("The range to extract (offset %lld, %llu bytes) does not fit the media of %llu bytes; nothing "
                     "was extracted.",
                     (long long)s.exportOffset, (unsigned long long)exportBytes, (unsigned long long)media));
        return result;
    }

    // Nothing is created or removed before the output's names are cleared:
    // never a file of the image, and of what is there only an earlier set
    // this writer made.
    std::vector<std::string> earlierSet;
    if (std::u16string why = checkExportTarget(s, exportBytes, earlierSet); !why.empty()) {
        result.outcome = ExportOutcome::Refused;
        say(why);
        return result;
    }
    for (const std::string& name : earlierSet) {
        std::error_code ec;
        std::filesystem::remove(name, ec);
        if (ec) {
            say(format16("%s, from an earlier export under the same name, could not be removed: %s", name.c_str(),
                         ec.message().c_str()));
            return result;
        }
    }

    std::unique_ptr<ExportOutput> output;
    bool valuesSet = true;
    if (s.outputFormat == ExportFormat::Raw && s.targetPath == "-") {
        output = openStdoutOutput();
    } else if (s.outputFormat == ExportFormat::Raw) {
        output = openRawOutput(s.targetPath, exportBytes, segmentBytes, valuesSet);
    } else if (s.targetPath != "-") {
        EwfOutputValues values;
        values.source = static_cast<libewf_handle_t*>(source.ewfHandle());
        values.operatingSystem = s.info.operatingSystem.substr(0, 15);
        values.sectorsPerChunk = sectorsPerChunk ? sectorsPerChunk : kExportDefaultSectorsPerChunk;
        // EWF segments always have a size limit: 0 gives the default.
        values.segmentBytes = segmentBytes ? segmentBytes : kExportDefaultSegmentBytes;
        randomGuid(values.guid);
        output = openEwfOutput(s.targetPath, values, valuesSet);
    }
    if (!output) {
        say(u"Unable to open output.\n");
        return result;
    }
    result.outputPath = output->firstFile();
    if (!valuesSet) say(u"Unable to set output values.\n");

    // A whole-media copy is checked against the hash the image holds.
    const bool wholeMedia = s.exportOffset == 0 && exportBytes == media;
    if (wholeMedia) {
        if (std::string md5 = source.storedHash("MD5"); !md5.empty()) {
            result.hashName = "MD5";
            result.storedHash = md5;
        } else if (std::string sha1 = source.storedHash("SHA1"); !sha1.empty()) {
            result.hashName = "SHA1";
            result.storedHash = sha1;
        }
    }
    Digest md5(EVP_md5());
    std::unique_ptr<Digest> sha1;
    if (result.hashName == "SHA1") sha1 = std::make_unique<Digest>(EVP_sha1());

    result.outcome = ExportOutcome::Done;
    // Whole chunks per read, about 1 MiB: fewer calls into libewf and the
    // output; progress and Stop stay fine-grained enough.
    std::vector<std::uint8_t> buffer(std::size_t(chunk) * std::max<std::uint32_t>(1, kCopyUnitBytes / chunk));
    std::vector<ByteRange> damaged;
    reporter_->setStatus(u"");
    reporter_->setProgressRange(0, 1000);
    std::int64_t shown = -1;
    auto write = [&](const std::uint8_t* data, std::size_t bytes) {
        md5.add(data, bytes);
        if (sha1) sha1->add(data, bytes);
        if (!output->write(data, bytes)) return false;
        result.bytesCopied += bytes;
        return true;
    };
    while (result.outcome == ExportOutcome::Done && result.bytesCopied < exportBytes) {
        const auto perMille = std::int64_t(double(result.bytesCopied) / double(exportBytes) * 1000.0);
        if (perMille != shown) {
            reporter_->setProgressPosition(perMille);
            reporter_->setStatus(extractedText(perMille));
            shown = perMille;
        }
        if (pollStop()) {
            stopRequested = false;
            result.outcome = ExportOutcome::Stopped;
            break;
        }
        const std::size_t want = std::size_t(std::min<std::uint64_t>(buffer.size(), exportBytes - result.bytesCopied));
        const std::uint64_t at = std::uint64_t(s.exportOffset) + result.bytesCopied;
        damaged.clear();
        if (!source.readAt(at, buffer.data(), want, damaged)) {
            // Chunk by chunk, so only the unreadable chunks are lost.
            damaged.clear();
            for (std::size_t done = 0; done < want; done += chunk) {
                const std::size_t n = std::min<std::size_t>(chunk, want - done);
                if (!source.readAt(at + done, buffer.data() + done, n, damaged)) {
                    std::fill(buffer.data() + done, buffer.data() + done + n, std::uint8_t(0));
                    addRange(damaged, at + done, n);
                }
            }
        }
        // Whatever a source reports, only damage inside this read counts,
        // in order.
        std::vector<ByteRange> inside;
        std::sort(damaged.begin(), damaged.end(), [](auto& a, auto& b) { return a.offset < b.offset; });
        for (const ByteRange& d : damaged) {
            const std::uint64_t first = std::max(d.offset, at);
            const std::uint64_t end = d.length > UINT64_MAX - d.offset ? UINT64_MAX : d.offset + d.length;
            if (first < std::min<std::uint64_t>(end, at + want))
                addRange(inside, first, std::min<std::uint64_t>(end, at + want) - first);
        }
        if (!inside.empty() && !s.continueOnError) {
            // The bytes before the first unreadable one are kept.
            const std::size_t good = std::size_t(inside.front().offset - at);
            if (good > 0 && !write(buffer.data(), good)) {
                result.outcome = ExportOutcome::WriteFailed;
                break;
            }
            result.failedAt = inside.front().offset;
            result.outcome = ExportOutcome::ReadFailed;
            break;
        }
        for (const ByteRange& d : inside) {
            std::fill(buffer.data() + (d.offset - at), buffer.data() + (d.offset - at + d.length), std::uint8_t(0));
            addRange(result.unreadable, d.offset, d.length);
        }
        if (!write(buffer.data(), want)) {
            result.outcome = ExportOutcome::WriteFailed;
            break;
        }
    }
    result.md5 = md5.hex();
    if (result.outcome == ExportOutcome::Done && !result.unreadable.empty()) result.outcome = ExportOutcome::Damaged;
    if (result.outcome == ExportOutcome::Done && !result.storedHash.empty()) {
        result.copyHash = sha1 ? sha1->hex() : result.md5;
        result.hashCheck = result.copyHash == result.storedHash ? HashCheck::Verified : HashCheck::Mismatch;
        if (result.hashCheck == HashCheck::Mismatch) result.outcome = ExportOutcome::HashMismatch;
    }

    // A copy that is not whole and sound says so in its own information.
    std::vector<std::string> note;
    if (result.outcome == ExportOutcome::Stopped || result.outcome == ExportOutcome::ReadFailed ||
        result.outcome == ExportOutcome::WriteFailed)
        note.push_back(formatNarrow("partial copy: %llu of %llu bytes from offset %lld (%s)",
                                    (unsigned long long)result.bytesCopied, (unsigned long long)exportBytes,
                                    (long long)s.exportOffset,
                                    result.outcome == ExportOutcome::Stopped ? "stopped" : "ended by an error"));
    if (result.outcome == ExportOutcome::ReadFailed)
        note.push_back(formatNarrow("unreadable at offset %llu", (unsigned long long)result.failedAt));
    if (!result.unreadable.empty()) {
        std::string ranges;
        for (const ByteRange& b : result.unreadable)
            ranges += formatNarrow("%s%llu+%llu", ranges.empty() ? "" : ", ", (unsigned long long)b.offset,
                                   (unsigned long long)b.length);
        note.push_back("unreadable ranges written as zeros (offset+bytes): " + ranges);
    }
    if (result.outcome == ExportOutcome::HashMismatch)
        note.push_back("hash mismatch: the image's stored " + result.hashName + " is " + result.storedHash +
                       ", this copy's is " + result.copyHash);
    if (!note.empty()) output->setStatusNote(note);
    output->setMd5(result.md5);
    if (!output->close()) {
        say(u"Unable to close export handle.\n");
        if (result.outcome == ExportOutcome::Done) result.outcome = ExportOutcome::WriteFailed;
    }

    if (result.hashCheck == HashCheck::Verified)
        say(format16("hash verified: the copy's %s matches the one stored in the image", result.hashName.c_str()));
    if (result.outcome == ExportOutcome::Damaged)
        for (const ByteRange& b : result.unreadable)
            say(format16("unreadable: %llu bytes at offset %llu, written as zeros", (unsigned long long)b.length,
                         (unsigned long long)b.offset));
    if (result.outcome == ExportOutcome::Done) reporter_->setProgressPosition(1000);
    say(exportOutcomeText(result));
    return result;
}

}  // namespace salvage
