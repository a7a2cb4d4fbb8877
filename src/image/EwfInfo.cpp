#include "image/EwfInfo.h"

#include <glob.h>

#include <algorithm>
#include <cstring>

#include "image/EwfHandle.h"
#include "platform/Text.h"

namespace salvage {

namespace {

// Header value identifiers are short names ("case_number"); a longer one is
// not one of the values the record keeps.
constexpr std::size_t kMaxIdentifierBytes = 64;
// Largest header value fetched, in UTF-16 units with the terminator; EWF
// header sections are small, and this bounds the allocation for a hostile
// size.
constexpr std::size_t kMaxHeaderValueUnits = 1u << 20;
// Header values the header date format applies to: libewf's ctime-like form.
constexpr int kHeaderDateFormat = LIBEWF_DATE_FORMAT_CTIME;

struct KeptValue {
    const char* identifier;
    std::u16string EwfInfoRecord::*field;
};
const KeptValue kKeptValues[] = {
    {"case_number", &EwfInfoRecord::caseNumber},
    {"description", &EwfInfoRecord::description},
    {"examiner_name", &EwfInfoRecord::examinerName},
    {"evidence_number", &EwfInfoRecord::evidenceNumber},
    {"notes", &EwfInfoRecord::notes},
    {"acquiry_date", &EwfInfoRecord::acquisitionDate},
    {"system_date", &EwfInfoRecord::systemDate},
    {"acquiry_operating_system", &EwfInfoRecord::operatingSystem},
    {"acquiry_software_version", &EwfInfoRecord::softwareVersion},
};

// 1 when read, 0 when the image has no such value, -1 on error.
int readUtf16Value(libewf_handle_t* handle, const std::string& identifier, std::u16string& out, EwfError& error) {
    auto id = reinterpret_cast<const std::uint8_t*>(identifier.data());
    size_t units = 0;
    int rc = libewf_handle_get_utf16_header_value_size(handle, id, identifier.size(), &units, error.out());
    if (rc != 1) return rc;
    if (units == 0) return 0;
    if (units > kMaxHeaderValueUnits) return -1;
    std::vector<std::uint16_t> buffer(units, 0);
    rc = libewf_handle_get_utf16_header_value(handle, id, identifier.size(), buffer.data(), buffer.size(), error.out());
    if (rc != 1) return rc;
    std::size_t length = 0;
    while (length < buffer.size() && buffer[length] != 0) ++length;
    length = std::min(length, kEwfTextUnits);
    out.assign(buffer.begin(), buffer.begin() + std::ptrdiff_t(length));
    return 1;
}

bool readHeaderValues(libewf_handle_t* handle, EwfInfoRecord& record, EwfError& error) {
    if (libewf_handle_set_header_values_date_format(handle, kHeaderDateFormat, error.out()) != 1) return false;
    std::uint32_t count = 0;
    int rc = libewf_handle_get_number_of_header_values(handle, &count, error.out());
    if (rc == -1) return false;
    if (rc == 0) return true;  // an image without header values
    for (std::uint32_t index = 0; index < count; ++index) {
        size_t size = 0;
        if (libewf_handle_get_header_value_identifier_size(handle, index, &size, error.out()) != 1) return false;
        if (size == 0 || size > kMaxIdentifierBytes) continue;
        std::uint8_t name[kMaxIdentifierBytes] = {};
        if (libewf_handle_get_header_value_identifier(handle, index, name, size, error.out()) != 1) return false;
        std::string identifier(reinterpret_cast<const char*>(name), strnlen(reinterpret_cast<const char*>(name), size));
        for (const auto& kept : kKeptValues) {
            if (identifier != kept.identifier) continue;
            if (readUtf16Value(handle, identifier, record.*kept.field, error) == -1) return false;
        }
    }
    return true;
}

// The media values; false when the format, the sector count or the media
// size cannot be read. A format-dependent value that fails stays empty.
bool readMediaValues(libewf_handle_t* handle, EwfInfoRecord& record, EwfError& error) {
    std::uint8_t format = 0;
    if (libewf_handle_get_format(handle, &format, error.out()) != 1) return false;
    record.fileFormat = ewfFormatName(format);

    const bool extended = format == LIBEWF_FORMAT_ENCASE5 || format == LIBEWF_FORMAT_ENCASE6 ||
                          format == LIBEWF_FORMAT_LINEN5 || format == LIBEWF_FORMAT_LINEN6 ||
                          format == LIBEWF_FORMAT_EWFX;
    if (extended) {
        std::uint32_t value = 0;
        if (libewf_handle_get_sectors_per_chunk(handle, &value, error.out()) == 1) record.sectorsPerChunk = value;
        error.reset();
        value = 0;
        if (libewf_handle_get_error_granularity(handle, &value, error.out()) == 1) record.errorGranularity = value;
        error.reset();
        std::int8_t level = 0;
        std::uint8_t flags = 0;
        if (libewf_handle_get_compression_values(handle, &level, &flags, error.out()) == 1)
            record.compressionLevel = ewfCompressionName(level);
        error.reset();
        // The image GUID (libewf calls it the segment file set identifier).
        std::uint8_t guid[16] = {};
        if (libewf_handle_get_segment_file_set_identifier(handle, guid, sizeof guid, error.out()) == 1) record.guid = ewfGuidText(guid);
        error.reset();
    }
    libewf_handle_segment_files_corrupted(handle, error.out());
    error.reset();
    if (format != LIBEWF_FORMAT_EWF && format != LIBEWF_FORMAT_SMART) {
        std::uint8_t mediaType = 0;
        if (libewf_handle_get_media_type(handle, &mediaType, error.out()) == 1)
            record.mediaType = ewfMediaTypeName(mediaType);
        error.reset();
        std::uint8_t flags = 0;
        if (libewf_handle_get_media_flags(handle, &flags, error.out()) == 1)
            record.isPhysical = flags & LIBEWF_MEDIA_FLAG_PHYSICAL;
        error.reset();
    }
    if (format != LIBEWF_FORMAT_LOGICAL_ENCASE5) {
        std::uint32_t bytesPerSector = 0;
        if (libewf_handle_get_bytes_per_sector(handle, &bytesPerSector, error.out()) == 1)
            record.bytesPerSector = bytesPerSector;
        error.reset();
        std::uint64_t sectors = 0;
        if (libewf_handle_get_number_of_sectors(handle, &sectors, error.out()) != 1) return false;
        record.numberOfSectors = sectors;
    }
    size64_t mediaSize = 0;
    if (libewf_handle_get_media_size(handle, &mediaSize, error.out()) != 1) return false;
    record.mediaSize = mediaSize;
    std::uint8_t md5[16], sha1[20];
    if (libewf_handle_get_md5_hash(handle, md5, sizeof md5, error.out()) == 1)
        record.acquisitionMd5 = hexLower(md5, sizeof md5);
    error.reset();
    if (libewf_handle_get_sha1_hash(handle, sha1, sizeof sha1, error.out()) == 1)
        record.acquisitionSha1 = hexLower(sha1, sizeof sha1);
    error.reset();
    return true;
}

void report(Reporter& reporter, const char* text) { reporter.message(u16(text), u"", MessageIcon::Information); }

}  // namespace

bool resolveImagePattern(const std::filesystem::path& pattern, std::vector<std::string>& files) {
    files.clear();
    const std::string text = pattern.string();
    if (text.find_first_of("*?[") == std::string::npos) {
        files.push_back(text);
        return true;
    }
    glob_t state{};
    int rc = ::glob(text.c_str(), 0, nullptr, &state);
    if (rc == 0) {
        for (std::size_t i = 0; i < state.gl_pathc; ++i) files.emplace_back(state.gl_pathv[i]);
    }
    ::globfree(&state);
    return rc == 0 || rc == GLOB_NOMATCH;
}

std::u16string ewfFormatName(std::uint8_t format) {
    switch (format) {
        case 1: return u"EnCase 1";
        case 2: return u"EnCase 2";
        case 3: return u"EnCase 3";
        case 4: return u"EnCase 4";
        case 5: return u"EnCase 5";
        case 6: return u"EnCase 6";
        case 14: return u"SMART";
        case 15: return u"FTK Imager";
        case 16: return u"EnCase Logical File Evidence (LVF)";
        case 37: return u"linen 5";
        case 38: return u"linen 6";
        case 112: return u"original EWF";
        case 113: return u"EWFX (extended EWF)";
        default: return u"unknown";
    }
}

std::u16string ewfCompressionName(int level) {
    switch (level) {
        case 0: return u"no compression";
        case 1: return u"good (fast) compression";
        case 2: return u"best compression";
        default: return u"unknown compression";
    }
}

std::u16string ewfMediaTypeName(std::uint8_t mediaType) {
    switch (mediaType) {
        case 0: return u"removable disk";
        case 1: return u"fixed disk";
        case 3: return u"optical disk (CD/DVD/BD)";
        case 14: return u"single files";
        case 16: return u"memory (RAM)";
        default: return u"unknown";
    }
}

std::u16string ewfGuidText(const std::uint8_t g[16]) {
    return format16("%.2x%.2x%.2x%.2x-%.2x%.2x-%.2x%.2x-%.2x%.2x-%.2x%.2x%.2x%.2x%.2x%.2x", g[3], g[2], g[1], g[0],
                    g[5], g[4], g[7], g[6], g[8], g[9], g[10], g[11], g[12], g[13], g[14], g[15]);
}

bool readImageInformation(const std::filesystem::path& path, EwfInfoRecord& record, Reporter& reporter) {
    record = EwfInfoRecord{};
    record.banner = formatNarrow("%s %s\n\n", "ewfexport", "20120813");

    std::vector<std::string> files;
    if (!resolveImagePattern(path, files)) {
        report(reporter, "Unable to resolve global values.\n");
        return false;
    }
    EwfError error;
    EwfHandle handle;
    // A failure to open shows as the header reading's failure below.
    if (handle.create(error)) handle.openSegments(files, error);
    error.reset();

    if (!handle.isOpen() || !readHeaderValues(handle.get(), record, error)) {
        report(reporter, "Unable to print header values.\n");
        return false;
    }
    error.reset();
    if (!readMediaValues(handle.get(), record, error)) {
        report(reporter, "Unable to print media Information values.\n");
        return false;
    }
    return true;
}

void fillInformationList(const EwfInfoRecord& r, std::vector<InfoRow>& list) {
    auto text = [&](const char16_t* item, const std::u16string& value) {
        if (!value.empty()) list.push_back({item, value});
    };
    text(u"GUID :", r.guid);
    text(u"COMPRESSION LEVEL:", r.compressionLevel);
    if (r.errorGranularity) list.push_back({u"ERROR GRANULARITY:", format16("%u", r.errorGranularity)});
    if (r.sectorsPerChunk) list.push_back({u"SECTOR \\ CHUNK :", format16("%u", r.sectorsPerChunk)});
    text(u"FILE FORMAT :", r.fileFormat);
    if (r.mediaSize) list.push_back({u"MEDIA SIZE :", format16("%lld  Bytes", (long long)r.mediaSize)});
    if (r.numberOfSectors) list.push_back({u"NUMBER OF SECTOR :", format16("%lld", (long long)r.numberOfSectors)});
    if (r.bytesPerSector) list.push_back({u"BYTES PER SECTOR :", format16("%u", r.bytesPerSector)});
    if (r.isPhysical > 0) list.push_back({u"IS PHYSICAL:", format16("%d", r.isPhysical)});
    text(u"MEDIA TYPES :", r.mediaType);
    text(u"SOFTWARE VERSION USED :", r.softwareVersion);
    text(u"OPERATING SYSTEM USED :", r.operatingSystem);
    text(u"SYSTEM DATE :", r.systemDate);
    text(u"ACQUISITION DATE:", r.acquisitionDate);
    text(u"NOTES:", r.notes);
    text(u"EVIDENCE NUMBER :", r.evidenceNumber);
    text(u"EXAMINER NAME :", r.examinerName);
    text(u"DESCRIPTION :", r.description);
    text(u"CASE NUMBER :", r.caseNumber);
    if (!r.banner.empty()) list.push_back({u"EWF FILE INFORMATION :", u16(r.banner)});
}

}  // namespace salvage
