#include "volumes/VolumeRecord.h"

namespace salvage {

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

}  // namespace salvage
