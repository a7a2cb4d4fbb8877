#pragma once
// Reads many small windows at rising offsets, as a list of finds gives
// them (found directory entries, found B-tree nodes): each window comes
// from one larger block read while it falls inside it, so a thousand finds
// close together cost a few reads instead of a thousand. A block that
// cannot be read whole is not used and the window is read alone, so every
// window holds exactly what one read of it into a zeroed buffer gives.
#include <cstdint>
#include <vector>

#include "image/SectorSource.h"
#include "platform/ByteView.h"

namespace salvage {

class WindowReader {
public:
    WindowReader(readWriteInterface& src, std::uint32_t window, std::uint32_t blockBytes = 64 * 1024);
    // The window at offset (from the source's baseOffset); valid until the
    // next call. ok() tells whether its read succeeded. A new block stops
    // at reachEnd when the caller knows where the windows it will ask for
    // next end (finds far apart then cost no more than their own bytes).
    ByteView at(std::int64_t offset, std::int64_t reachEnd = -1);
    bool ok() const { return ok_; }

private:
    readWriteInterface& src_;
    std::uint32_t window_, blockBytes_;
    std::vector<std::uint8_t> block_;
    std::int64_t blockAt_ = 0;
    std::vector<std::uint8_t> single_;
    bool ok_ = false;
};

}  // namespace salvage
