#include "image/ExportOutput.h"

#include <libsmraw.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <random>
#include <vector>

#include "image/EwfHandle.h"
#include "platform/Text.h"

namespace salvage {

namespace {

bool endsWithIgnoreCase(const std::string& text, const std::string& suffix) {
    if (text.size() < suffix.size()) return false;
    return equalsIgnoreAsciiCase(fromUtf8(text.substr(text.size() - suffix.size())), fromUtf8(suffix));
}

void setText(libewf_handle_t* h, const char* identifier, const std::string& value, bool& ok) {
    libewf_error_t* error = nullptr;
    if (libewf_handle_set_utf8_header_value(h, reinterpret_cast<const std::uint8_t*>(identifier),
                                            std::char_traits<char>::length(identifier),
                                            reinterpret_cast<const std::uint8_t*>(value.data()), value.size(),
                                            &error) != 1)
        ok = false;
    if (error) libewf_error_free(&error);
}

class EwfOutput : public ExportOutput {
public:
    EwfOutput(std::string first, std::string note) : first_(std::move(first)), note_(std::move(note)) {}
    ~EwfOutput() override { close(); }

    bool open(const std::string& base) {
        if (libewf_handle_initialize(&handle_, error_.out()) != 1) return false;
        char* names[1] = {const_cast<char*>(base.c_str())};
        open_ = libewf_handle_open(handle_, names, 1, LIBEWF_OPEN_WRITE, error_.out()) == 1;
        return open_;
    }

    // The media size is left to libewf: it takes it from the bytes written
    // when the image is finalised, so a stopped export is a complete image
    // of the bytes copied.
    bool setValues(const EwfOutputValues& v) {
        bool ok = true;
        auto step = [&](int rc) {
            if (rc != 1) ok = false;
            error_.reset();
        };
        if (v.source) {
            step(libewf_handle_copy_header_values(handle_, v.source, error_.out()));
            std::uint32_t bytesPerSector = 512;
            std::uint8_t mediaType = 0, mediaFlags = 0;
            if (libewf_handle_get_bytes_per_sector(v.source, &bytesPerSector, error_.out()) == 1)
                step(libewf_handle_set_bytes_per_sector(handle_, bytesPerSector, error_.out()));
            error_.reset();
            if (libewf_handle_get_media_type(v.source, &mediaType, error_.out()) == 1)
                step(libewf_handle_set_media_type(handle_, mediaType, error_.out()));
            error_.reset();
            if (libewf_handle_get_media_flags(v.source, &mediaFlags, error_.out()) == 1)
                step(libewf_handle_set_media_flags(handle_, mediaFlags, error_.out()));
            error_.reset();
        }
        if (!v.operatingSystem.empty()) setText(handle_, "acquiry_operating_system", toUtf8(v.operatingSystem), ok);
        setText(handle_, "acquiry_software", "ewfexport", ok);
        setText(handle_, "acquiry_software_version", "20120813", ok);
        step(libewf_handle_set_header_codepage(handle_, LIBEWF_CODEPAGE_ASCII, error_.out()));
        step(libewf_handle_set_compression_values(handle_, LIBEWF_COMPRESSION_NONE, 0, error_.out()));
        step(libewf_handle_set_format(handle_, LIBEWF_FORMAT_ENCASE6, error_.out()));
        step(libewf_handle_set_maximum_segment_size(handle_, v.segmentBytes, error_.out()));
        step(libewf_handle_set_sectors_per_chunk(handle_, v.sectorsPerChunk, error_.out()));
        step(libewf_handle_set_segment_file_set_identifier(handle_, v.guid, 16, error_.out()));
        return ok;
    }

    bool write(const std::uint8_t* data, std::size_t bytes) override {
        error_.reset();
        ssize_t n = libewf_handle_write_buffer(handle_, data, bytes, error_.out());
        return n >= 0 && std::size_t(n) == bytes;
    }

    bool setMd5(const std::string& hex) override {
        error_.reset();
        return libewf_handle_set_utf8_hash_value(handle_, reinterpret_cast<const std::uint8_t*>("MD5"), 3,
                                                 reinterpret_cast<const std::uint8_t*>(hex.data()), hex.size(),
                                                 error_.out()) == 1;
    }

    bool setStatusNote(const std::vector<std::string>& lines) override {
        noteLines_ = lines;
        return true;
    }

    bool close() override {
        if (!handle_) return true;
        bool ok = true;
        if (open_) {
            error_.reset();
            ok = libewf_handle_write_finalize(handle_, error_.out()) >= 0;
            error_.reset();
            ok = libewf_handle_close(handle_, error_.out()) == 0 && ok;
            open_ = false;
            if (!noteLines_.empty()) ok = writeNote() && ok;
        }
        error_.reset();
        libewf_handle_free(&handle_, error_.out());
        handle_ = nullptr;
        return ok;
    }

    std::string firstFile() const override { return first_; }

private:
    bool writeNote() {
        std::FILE* f = std::fopen(note_.c_str(), "w");
        if (!f) return false;
        bool ok = std::fprintf(f, "%s\nimage: %s\n", kEwfNoteHeading, first_.c_str()) > 0;
        for (const auto& line : noteLines_) ok = std::fprintf(f, "%s\n", line.c_str()) > 0 && ok;
        return std::fclose(f) == 0 && ok;
    }

    std::string first_;
    std::string note_;
    std::vector<std::string> noteLines_;
    libewf_handle_t* handle_ = nullptr;
    EwfError error_;
    bool open_ = false;
};

class RawOutput : public ExportOutput {
public:
    explicit RawOutput(std::string first) : first_(std::move(first)) {}
    ~RawOutput() override { close(); }

    bool open(const std::string& base) {
        if (libsmraw_handle_initialize(&handle_, nullptr) != 1) return false;
        char* names[1] = {const_cast<char*>(base.c_str())};
        open_ = libsmraw_handle_open(handle_, names, 1, LIBSMRAW_OPEN_WRITE, nullptr) == 1;
        return open_;
    }

    bool setValues(std::uint64_t mediaBytes, std::uint64_t segmentBytes) {
        bool ok = libsmraw_handle_set_media_size(handle_, mediaBytes, nullptr) == 1;
        return libsmraw_handle_set_maximum_segment_size(handle_, segmentBytes, nullptr) == 1 && ok;
    }

    bool write(const std::uint8_t* data, std::size_t bytes) override {
        ssize_t n = libsmraw_handle_write_buffer(handle_, data, bytes, nullptr);
        return n >= 0 && std::size_t(n) == bytes;
    }

    bool setMd5(const std::string& hex) override {
        return libsmraw_handle_set_utf8_integrity_hash_value(handle_, reinterpret_cast<const std::uint8_t*>("MD5"), 3,
                                                             reinterpret_cast<const std::uint8_t*>(hex.data()),
                                                             hex.size(), nullptr) == 1;
    }

    // One information value, "status", in the information file libsmraw
    // writes beside the data at close.
    bool setStatusNote(const std::vector<std::string>& lines) override {
        std::string text;
        for (const auto& line : lines) text += (text.empty() ? "" : "; ") + line;
        static const char kId[] = "status";
        return libsmraw_handle_set_utf8_information_value(handle_, reinterpret_cast<const std::uint8_t*>(kId),
                                                          sizeof kId - 1,
                                                          reinterpret_cast<const std::uint8_t*>(text.data()),
                                                          text.size(), nullptr) == 1;
    }

    bool close() override {
        if (!handle_) return true;
        bool ok = true;
        if (open_) ok = libsmraw_handle_close(handle_, nullptr) == 0;
        open_ = false;
        libsmraw_handle_free(&handle_, nullptr);
        handle_ = nullptr;
        return ok;
    }

    std::string firstFile() const override { return first_; }

private:
    std::string first_;
    libsmraw_handle_t* handle_ = nullptr;
    bool open_ = false;
};

class StdoutOutput : public ExportOutput {
public:
    bool write(const std::uint8_t* data, std::size_t bytes) override {
        while (bytes > 0) {
            ssize_t n = ::write(STDOUT_FILENO, data, bytes);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            data += n;
            bytes -= std::size_t(n);
        }
        return true;
    }
    bool setMd5(const std::string&) override { return true; }  // nowhere to store it
    bool setStatusNote(const std::vector<std::string>&) override { return true; }
    bool close() override { return true; }
    std::string firstFile() const override { return "-"; }
};

}  // namespace

std::string ewfOutputBase(const std::string& target) {
    if (endsWithIgnoreCase(target, ".E01")) return target.substr(0, target.size() - 4);
    return target;
}

std::string rawOutputBase(const std::string& target) {
    if (endsWithIgnoreCase(target, ".raw")) return target.substr(0, target.size() - 4);
    return target;
}

std::string ewfSegmentName(const std::string& base, std::size_t number) {
    if (number < 100) return base + formatNarrow(".E%02zu", number);
    // After E99 the extension runs through letters: EAA..EZZ, FAA..ZZZ.
    const std::size_t k = number - 100;
    const char ext[] = {'.', char('E' + k / 676), char('A' + k / 26 % 26), char('A' + k % 26), 0};
    return base + ext;
}

std::string ewfNoteName(const std::string& base) { return base + ".E01.status.txt"; }
std::string rawInfoName(const std::string& base) { return base + ".raw.info"; }

std::unique_ptr<ExportOutput> openEwfOutput(const std::string& target, const EwfOutputValues& values, bool& valuesSet) {
    const std::string base = ewfOutputBase(target);
    if (base.empty()) return nullptr;
    auto out = std::make_unique<EwfOutput>(base + ".E01", ewfNoteName(base));
    if (!out->open(base)) return nullptr;
    valuesSet = out->setValues(values);
    return out;
}

std::unique_ptr<ExportOutput> openRawOutput(const std::string& target, std::uint64_t mediaBytes,
                                            std::uint64_t segmentBytes, bool& valuesSet) {
    const std::string base = rawOutputBase(target);
    if (base.empty()) return nullptr;
    // libsmraw creates its files at the first write; a folder that is not
    // there is found out now, as a failure to open.
    std::error_code ec;
    const std::filesystem::path folder = std::filesystem::path(base).parent_path();
    if (!folder.empty() && !std::filesystem::is_directory(folder, ec)) return nullptr;
    auto out = std::make_unique<RawOutput>(segmentBytes ? base + ".raw.000" : base + ".raw");
    if (!out->open(base)) return nullptr;
    valuesSet = out->setValues(mediaBytes, segmentBytes);
    return out;
}

std::unique_ptr<ExportOutput> openStdoutOutput() { return std::make_unique<StdoutOutput>(); }

void randomGuid(std::uint8_t guid[16]) {
    std::random_device device;
    for (int i = 0; i < 16; i += 4) {
        std::uint32_t r = device();
        for (int k = 0; k < 4; ++k) guid[i + k] = std::uint8_t(r >> (8 * k));
    }
    guid[7] = std::uint8_t((guid[7] & 0x0F) | 0x40);  // version 4: high nibble of the third group
    guid[8] = std::uint8_t((guid[8] & 0x3F) | 0x80);  // RFC 4122 variant
}

}  // namespace salvage
