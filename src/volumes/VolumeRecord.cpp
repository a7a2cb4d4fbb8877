#include "volumes/VolumeRecord.h"

#include <algorithm>

namespace salvage {

namespace {
constexpr std::int64_t kMiB = 1048576;
constexpr std::int64_t kSector = 512;
}  // namespace

std::int64_t sizeTextMegabytes(const std::u16string& sizeText) {
    std::size_t i = 0;
    while (i < sizeText.size() && (sizeText[i] == u' ' || sizeText[i] == u'\t')) ++i;
    std::int64_t value = 0;
    for (; i < sizeText.size() && sizeText[i] >= u'0' && sizeText[i] <= u'9'; ++i) {
        if (value > (INT64_MAX - 9) / 10) break;  // a size past 2^63 MiB is nonsense
        value = value * 10 + (sizeText[i] - u'0');
    }
    return value;
}

std::int64_t volumeBytes(const VolumeRecord& record) {
    if (record.sectors >= 0) return record.sectors > INT64_MAX / kSector ? INT64_MAX : record.sectors * kSector;
    const std::int64_t mb = sizeTextMegabytes(record.sizeText);
    return mb > INT64_MAX / kMiB ? INT64_MAX : mb * kMiB;
}

std::optional<VolumeExtent> extentOf(const VolumeRecord& record, std::int64_t imageSectors) {
    if (record.startSector < 0 || imageSectors <= 0 || record.startSector >= imageSectors) return std::nullopt;
    VolumeExtent e;
    e.startSector = record.startSector;
    const std::int64_t room = imageSectors - record.startSector;
    const std::int64_t own = volumeBytes(record) / kSector;
    e.sectors = own > 0 ? std::min(own, room) : room;
    e.clipped = own > room;
    return e;
}

ImageFit fitInImage(const VolumeRecord& record, std::int64_t imageSectors) {
    if (imageSectors <= 0) return ImageFit::Inside;
    const std::optional<VolumeExtent> e = extentOf(record, imageSectors);
    if (!e) return ImageFit::Outside;
    return e->clipped ? ImageFit::RunsPast : ImageFit::Inside;
}

}  // namespace salvage
