#pragma once
// One record of a signature settings file: 171 bytes, little-endian, one per
// file type. The file is a plain sequence of records without a header.
#include <array>
#include <cstdint>
#include <string>

#include "platform/ByteView.h"

namespace salvage {

inline constexpr std::size_t kSignatureRecordBytes = 171;
inline constexpr std::size_t kSignatureBytes = 10;        // room for a start or end signature
inline constexpr std::size_t kExtensionUnits = 5;         // 4 characters kept, the fifth unit stays 0
inline constexpr std::size_t kExtensionKept = 4;
inline constexpr std::size_t kCategoryUnits = 50;         // including the terminator
inline constexpr std::uint32_t kNoSizeOffset = 0xFFFFFFFF;

struct SignatureRecord {
    std::u16string extension;               // at most 4 units
    std::uint8_t extensionLength = 0;       // characters the user typed
    std::array<std::uint8_t, kSignatureBytes> startSignature{};
    std::array<std::uint8_t, kSignatureBytes> endSignature{};
    std::uint8_t startLength = 0;
    std::uint8_t endLength = 0;             // 0 = no end signature
    std::uint8_t recordIndex = 0xFF;        // position of the record in its file
    std::uint32_t sizeOffset = kNoSizeOffset;
    std::uint32_t sizeByteCount = 0;
    std::uint32_t headerSize = 0;
    std::uint8_t sizeIncludesHeader = 0;
    std::uint64_t approxSize = 0;
    std::uint64_t skipSize = 0;
    std::u16string category;                // at most 49 units

    // Field offsets inside the record.
    static constexpr std::size_t kExtensionAt = 0, kExtensionLengthAt = 10, kStartAt = 11, kEndAt = 21,
                                 kStartLengthAt = 31, kEndLengthAt = 32, kRecordIndexAt = 33,
                                 kSizeOffsetAt = 34, kSizeByteCountAt = 38, kHeaderSizeAt = 42,
                                 kIncludesHeaderAt = 46, kReserved1At = 47, kApproxSizeAt = 51,
                                 kSkipSizeAt = 59, kCategoryAt = 67, kReserved2At = 167;

    // Decodes a record; a view shorter than a record reads its missing
    // fields as zeros.
    static SignatureRecord decode(ByteView bytes);
    std::array<std::uint8_t, kSignatureRecordBytes> encode() const;
};

}  // namespace salvage
