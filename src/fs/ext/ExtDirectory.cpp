#include "fs/ext/ExtDirectory.h"

namespace salvage::ext {

void walkDirectoryBlock(ByteView block, bool typed, std::uint32_t entryCount,
                        const std::function<void(std::uint32_t, std::uint8_t)>& typeSeen,
                        const std::function<void(const DirEntry&)>& visit) {
    std::size_t off = 0;
    while (off < block.size()) {
        if (!block.has(off, 8)) return;
        DirEntry e;
        e.inode = le32(block, off);
        std::uint16_t recordLength = le16(block, off + 4);
        std::size_t nameLength;
        std::size_t advance;
        if (typed) {
            nameLength = u8(block, off + 6);
            e.fileType = u8(block, off + 7);
            if (typeSeen) typeSeen(e.inode, e.fileType);
            if (nameLength == 0 || recordLength == 0 || e.inode >= entryCount) return;
            std::size_t needed = (8 + nameLength + 3) & ~std::size_t(3);
            advance = recordLength >= needed + 4 ? recordLength : needed;
        } else {
            nameLength = le16(block, off + 6);
            if (nameLength == 0 || recordLength == 0 || nameLength > kMaxUntypedNameLength) return;
            advance = recordLength;
        }
        // A name running past the block ends the walk.
        if (!block.has(off + 8, nameLength)) return;
        e.name = std::string_view(reinterpret_cast<const char*>(block.data() + off + 8), nameLength);
        visit(e);
        off += advance;
    }
}

}  // namespace salvage::ext
