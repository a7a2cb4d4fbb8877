#include "app/InfoRows.h"

#include <sys/stat.h>

#include "image/Globals.h"
#include "image/ImageOpen.h"
#include "image/SectorSource.h"
#include "platform/Text.h"

namespace salvage::app {

namespace {

// The rows a raw image or block device can give: its kind and its size.
std::vector<InfoRow> rawRows(const std::filesystem::path& path, Reporter& reporter, EwfInfoRecord& record) {
    // The raw reader sizes files and devices; it also writes the run's
    // sector count, which belongs to the run's own source.
    const std::int64_t runSectors = g_totalSectors;
    FileReadSeek probe(reporter);
    const bool opened = probe.open(path);
    g_totalSectors = runSectors;
    if (!opened) return {};

    struct stat st{};
    const bool device = ::stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode);
    const std::int64_t bytes = device ? probe.totalSectors() * kSectorBytes : std::int64_t(probe.fileLength);
    record.mediaSize = std::uint64_t(bytes);
    record.numberOfSectors = std::uint64_t(bytes / kSectorBytes);
    record.bytesPerSector = kSectorBytes;
    std::vector<InfoRow> rows;
    rows.push_back({u"FILE FORMAT :", device ? u"block device" : u"raw image"});
    rows.push_back({u"MEDIA SIZE :", format16("%lld  Bytes", static_cast<long long>(bytes))});
    rows.push_back({u"NUMBER OF SECTOR :", format16("%lld", static_cast<long long>(bytes / kSectorBytes))});
    rows.push_back({u"BYTES PER SECTOR :", u"512"});
    return rows;
}

}  // namespace

ImageInformation readInformation(const QString& path, Reporter& reporter) {
    ImageInformation info;
    const std::filesystem::path p = pathFromUtf16(path.toStdU16String());
    info.isEwf = looksLikeEwf(p);
    if (info.isEwf) {
        if (readImageInformation(p, info.record, reporter)) fillInformationList(info.record, info.rows);
    } else {
        info.rows = rawRows(p, reporter, info.record);
    }
    for (const auto& row : info.rows)
        if (row.item == u"MEDIA SIZE :") info.mediaSizeText = QString::fromStdU16String(row.value);
    return info;
}

}  // namespace salvage::app
