#include "image/ExportJob.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <vector>

#include "image/EwfHandle.h"
#include "image/ExportOutput.h"
#include "image/ImageOpen.h"
#include "platform/Text.h"

namespace salvage {

namespace {

// The copy unit of a raw source, which has no chunks of its own.
constexpr std::uint32_t kRawSourceChunkBytes = 1u << 20;
// The copy moves this many bytes (rounded down to whole chunks) per step.
constexpr std::uint32_t kCopyUnitBytes = 1u << 20;
// Chunks above this are refused: the copy buffer holds one.
constexpr std::uint32_t kMaxChunkBytes = 1u << 30;
// Segment sizes from here on are out of range and replaced by the default.
constexpr std::uint64_t kMaxSegmentBytes = 9223372036854775807ull;

bool validSectorsPerChunk(std::uint32_t value) {
    for (std::uint32_t p = 16; p <= 32768; p <<= 1)
        if (value == p) return true;
    return false;
}

// The media being exported: an EWF segment set read through libewf, or a
// raw image file.
class ExportSource {
public:
    ~ExportSource() {
        if (fd_ >= 0) ::close(fd_);
    }

    bool open(const std::vector<std::string>& files) {
        if (files.size() == 1 && !looksLikeEwf(files[0])) return openRaw(files[0]);
        if (!ewf_.create(error_) || !ewf_.openSegments(files, error_)) return false;
        libewf_handle_t* h = ewf_.get();
        size32_t chunk = 0;
        size64_t media = 0;
        bool ok = libewf_handle_set_header_codepage(h, LIBEWF_CODEPAGE_ASCII, error_.out()) == 1 &&
                  libewf_handle_get_chunk_size(h, &chunk, error_.out()) == 1 &&
                  libewf_handle_get_media_size(h, &media, error_.out()) == 1 &&
                  // A damaged chunk is a read error that ends the copy, never zeros passed off as data.
                  libewf_handle_set_read_zero_chunk_on_error(h, 0, error_.out()) == 1;
        chunkBytes_ = chunk;
        mediaBytes_ = media;
        return ok && chunk >= 1 && chunk <= kMaxChunkBytes;
    }

    libewf_handle_t* ewfHandle() const { return fd_ >= 0 ? nullptr : ewf_.get(); }
    std::uint64_t mediaBytes() const { return mediaBytes_; }
    std::uint32_t chunkBytes() const { return chunkBytes_; }

    bool seek(std::int64_t offset) {
        if (fd_ >= 0) return ::lseek(fd_, off_t(offset), SEEK_SET) == off_t(offset);
        error_.reset();
        return libewf_handle_seek_offset(ewf_.get(), off64_t(offset), SEEK_SET, error_.out()) == offset;
    }

    // Bytes read (0 at the end), or -1 on an error.
    std::int64_t read(std::uint8_t* buffer, std::size_t bytes) {
        if (fd_ < 0) {
            error_.reset();
            return libewf_handle_read_buffer(ewf_.get(), buffer, bytes, error_.out());
        }
        std::size_t got = 0;
        while (got < bytes) {
            ssize_t n = ::read(fd_, buffer + got, bytes - got);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return -1;
            if (n == 0) break;
            got += std::size_t(n);
        }
        return std::int64_t(got);
    }

private:
    bool openRaw(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) return false;
        off_t end = ::lseek(fd_, 0, SEEK_END);
        if (end < 0) return false;
        mediaBytes_ = std::uint64_t(end);
        chunkBytes_ = kRawSourceChunkBytes;
        return ::lseek(fd_, 0, SEEK_SET) == 0;
    }

    EwfError error_;
    EwfHandle ewf_;
    int fd_ = -1;
    std::uint64_t mediaBytes_ = 0;
    std::uint32_t chunkBytes_ = 0;
};

struct Md5 {
    Md5() : ctx(EVP_MD_CTX_new()) { EVP_DigestInit_ex(ctx, EVP_md5(), nullptr); }
    ~Md5() { EVP_MD_CTX_free(ctx); }
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

ExportJob::ExportJob(ExportSettings settings, Reporter& reporter)
    : settings_(std::move(settings)), reporter_(&reporter) {}

ExportResult ExportJob::run() {
    ExportResult result;
    auto say = [&](const std::u16string& text) { reporter_->message(text, u"", MessageIcon::Information); };
    const ExportSettings& s = settings_;

    std::vector<std::string> files;
    if (!resolveImagePattern(s.imagePath, files)) {
        say(u"Unable to resolve global values.\n");
        return result;
    }
    ExportSource source;
    if (files.empty() || !source.open(files)) {
        say(u"Unable to open the image.\n");
        return result;
    }
    const std::uint32_t sectorsPerChunk = s.info.sectorsPerChunk;
    if (sectorsPerChunk != 0 && !validSectorsPerChunk(sectorsPerChunk)) {
        say(u"Unable to set sectors per chunk.");
        return result;
    }
    std::uint64_t segmentBytes = s.maximumSegmentSize;
    if (segmentBytes >= kMaxSegmentBytes) {
        segmentBytes = kExportDefaultSegmentBytes;
        result.segmentSizeReplaced = true;
    }
    const std::uint64_t media = source.mediaBytes();
    const std::uint64_t exportBytes = s.exportSize > 0 ? std::uint64_t(s.exportSize) : media;

    // The range is checked before any output exists, so a range that does
    // not fit leaves no empty image behind.
    if (!rangeFits(s.exportOffset, exportBytes, media)) {
        result.outcome = ExportOutcome::RangeRejected;
        say(format16("The range to extract (offset %lld, %llu bytes) does not fit the media of %llu bytes; nothing "
                     "was extracted.",
                     (long long)s.exportOffset, (unsigned long long)exportBytes, (unsigned long long)media));
        reporter_->setProgressPosition(1000);
        say(u"done");
        return result;
    }

    std::unique_ptr<ExportOutput> output;
    bool valuesSet = true;
    if (s.outputFormat == ExportFormat::Raw && s.targetPath == "-") {
        output = openStdoutOutput();
    } else if (s.outputFormat == ExportFormat::Raw) {
        output = openRawOutput(s.targetPath, exportBytes, segmentBytes, valuesSet);
    } else if (s.targetPath != "-") {
        EwfOutputValues values;
        values.source = source.ewfHandle();
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

    Md5 md5;
    result.outcome = ExportOutcome::Done;
    if (s.exportOffset != 0 && !source.seek(s.exportOffset)) result.outcome = ExportOutcome::ReadFailed;
    // Whole chunks per read, about 1 MiB: fewer calls into libewf and the
    // output; progress and Stop stay fine-grained enough.
    const std::uint32_t chunk = source.chunkBytes();
    std::vector<std::uint8_t> buffer(std::size_t(chunk) * std::max<std::uint32_t>(1, kCopyUnitBytes / chunk));
    reporter_->setStatus(u"");
    reporter_->setProgressRange(0, 1000);
    std::int64_t shown = -1;
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
        const std::int64_t got = source.read(buffer.data(), want);
        if (got <= 0) {
            result.outcome = ExportOutcome::ReadFailed;
            break;
        }
        md5.add(buffer.data(), std::size_t(got));
        if (!output->write(buffer.data(), std::size_t(got))) {
            result.outcome = ExportOutcome::WriteFailed;
            break;
        }
        result.bytesCopied += std::uint64_t(got);
    }
    result.md5 = md5.hex();
    output->setMd5(result.md5);
    if (!output->close()) say(u"Unable to close export handle.\n");

    if (result.outcome == ExportOutcome::ReadFailed)
        say(format16("The image could not be read at offset %llu; the output holds the %llu bytes before it.",
                     (unsigned long long)(std::uint64_t(s.exportOffset) + result.bytesCopied),
                     (unsigned long long)result.bytesCopied));
    else if (result.outcome == ExportOutcome::WriteFailed)
        say(format16("The output could not be written after %llu bytes; it holds the bytes before them.",
                     (unsigned long long)result.bytesCopied));
    reporter_->setProgressPosition(1000);
    say(u"done");
    return result;
}

}  // namespace salvage
