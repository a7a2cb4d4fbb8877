#include "fs/fat/RecordLinks.h"

namespace salvage::fat {

std::u16string attributeLetters(std::uint16_t a) {
    std::u16string s;
    if (a & 0x01) s += u'R';
    if (a & 0x02) s += u'H';
    if (a & 0x04) s += u'S';
    if (a & 0x08) s += u'V';
    if (a & 0x10) s += u'D';
    if (a & 0x20) s += u'A';
    return s;
}

}  // namespace salvage::fat
