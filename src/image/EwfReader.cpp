#include "image/EwfReader.h"

#include <cstring>

#include "image/EwfHandle.h"
#include "image/Globals.h"
#include "platform/AppTitle.h"

namespace salvage {

namespace {
bool validSectorsPerChunk(std::uint32_t value) {
    for (std::uint32_t p = 16; p <= 32768; p <<= 1)
        if (value == p) return true;
    return false;
}
}  // namespace

FileReadSeekEWf::FileReadSeekEWf(Reporter& reporter, const EwfInfoRecord* info)
    : reporter_(&reporter), ewfHandle_(std::make_unique<EwfHandle>()), ewfError_(std::make_unique<EwfError>()) {
    if (info) info_ = *info;
}

FileReadSeekEWf::~FileReadSeekEWf() = default;

bool FileReadSeekEWf::open(const std::filesystem::path& path) {
    ewfError_->reset();
    std::vector<std::string> files;
    if (!resolveImagePattern(path, files)) {
        reporter_->message(u"Unable to resolve global values.\n", kAppTitle, MessageIcon::Information);
        return false;
    }
    if (!ewfHandle_->create(*ewfError_)) {
        reporter_->message(u"Unable to create export handle.\n", kAppTitle, MessageIcon::Information);
        return false;
    }
    mediaSize_ = 0;
    checksumErrors_ = 0;
    damage_.clear();
    libewf_handle_t* h = ewfHandle_->get();
    bool ok = ewfHandle_->openSegments(files, *ewfError_);
    size32_t chunkSize = 0;
    size64_t mediaSize = 0;
    ok = ok && libewf_handle_set_header_codepage(h, headerCodepage, ewfError_->out()) == 1;
    ok = ok && libewf_handle_get_chunk_size(h, &chunkSize, ewfError_->out()) == 1;
    ok = ok && libewf_handle_get_media_size(h, &mediaSize, ewfError_->out()) == 1;
    // A chunk that fails its checksum reads as zeros, never as whatever
    // bytes the damaged chunk holds; read() turns it into a failed read.
    ok = ok && libewf_handle_set_read_zero_chunk_on_error(h, 1, ewfError_->out()) == 1;
    if (info_ && info_->sectorsPerChunk != 0 && !validSectorsPerChunk(info_->sectorsPerChunk)) {
        reporter_->message(u"Unable to set sectors per chunk.", kAppTitle, MessageIcon::Information);
        ewfHandle_->release();
        return false;
    }
    ok = ok && chunkSize >= 1 && chunkSize <= kMaxEwfChunkBytes;
    // The information read before must describe this image, not a larger one.
    std::uint64_t recorded = info_ && info_->mediaSize ? info_->mediaSize : mediaSize;
    ok = ok && recorded <= mediaSize;
    if (!ok) {
        ewfHandle_->release();
        return false;
    }
    mediaSize_ = mediaSize;
    totalSectors_ = std::int64_t(recorded >> 9);
    g_totalSectors = totalSectors_;
    return true;
}

bool FileReadSeekEWf::seek(std::int64_t offset, int) {
    return !__builtin_add_overflow(baseOffset, offset, &position);
}

bool FileReadSeekEWf::read(void* buffer, std::uint32_t byteCount) {
    libewf_handle_t* h = ewfHandle_->get();
    if (!h || !ewfHandle_->isOpen() || position < 0) return false;
    ewfError_->reset();
    ssize_t got = libewf_handle_read_random(h, buffer, byteCount, off64_t(position), ewfError_->out());
    if (got < 0) {
        // A read that fails as a whole (a missing segment): the range is
        // damage until a smaller read of part of it succeeds.
        noteRead(position, byteCount, false);
        return false;
    }
    if (std::uint64_t(got) < byteCount)
        std::memset(static_cast<std::uint8_t*>(buffer) + got, 0, byteCount - std::size_t(got));
    if (overlapsChecksumError(position, std::uint64_t(got))) return false;
    noteRead(position, std::uint64_t(got), true);
    return true;
}

bool FileReadSeekEWf::overlapsChecksumError(std::int64_t offset, std::uint64_t bytes) {
    libewf_handle_t* h = ewfHandle_->get();
    std::uint32_t errors = 0;
    if (bytes == 0 || libewf_handle_get_number_of_checksum_errors(h, &errors, ewfError_->out()) != 1) return false;
    checksumErrors_ = errors;
    std::uint32_t sectorBytes = 512;
    libewf_handle_get_bytes_per_sector(h, &sectorBytes, ewfError_->out());
    if (sectorBytes == 0) sectorBytes = 512;
    const std::uint64_t first = std::uint64_t(offset) / sectorBytes;
    const std::uint64_t last = (std::uint64_t(offset) + bytes - 1) / sectorBytes;
    const std::uint64_t imageEnd = imageEndBytes();
    bool meets = false;
    for (std::uint32_t i = 0; i < errors; ++i) {
        std::uint64_t start = 0, count = 0;
        if (libewf_handle_get_checksum_error(h, i, &start, &count, ewfError_->out()) != 1) continue;
        // Every chunk found corrupt so far is known damage of the image
        // (libewf merges neighbours, so an entry may have grown).
        if (count != 0 && start < imageEnd / sectorBytes)
            damage_.add(start * sectorBytes, std::min(count, imageEnd / sectorBytes - start) * sectorBytes);
        // [start, start + count) meets [first, last], written without overflow.
        if (count != 0 && start <= last && (start >= first || first - start < count)) meets = true;
    }
    return meets;
}

}  // namespace salvage
