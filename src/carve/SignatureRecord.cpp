#include "carve/SignatureRecord.h"

namespace salvage {

namespace {
// UTF-16LE units up to the first NUL, never past `units`.
std::u16string readUnits(ByteView v, std::size_t offset, std::size_t units) {
    std::u16string s;
    for (std::size_t i = 0; i < units; ++i) {
        char16_t c = char16_t(le16(v, offset + 2 * i));
        if (c == 0) break;
        s.push_back(c);
    }
    return s;
}

void writeUnits(std::span<std::uint8_t> out, std::size_t offset, const std::u16string& text, std::size_t maxUnits) {
    for (std::size_t i = 0; i < text.size() && i < maxUnits; ++i) storeLe16(out, offset + 2 * i, text[i]);
}
}  // namespace

SignatureRecord SignatureRecord::decode(ByteView v) {
    SignatureRecord r;
    r.extension = readUnits(v, kExtensionAt, kExtensionKept);
    r.extensionLength = u8(v, kExtensionLengthAt);
    for (std::size_t i = 0; i < kSignatureBytes; ++i) {
        r.startSignature[i] = u8(v, kStartAt + i);
        r.endSignature[i] = u8(v, kEndAt + i);
    }
    r.startLength = u8(v, kStartLengthAt);
    r.endLength = u8(v, kEndLengthAt);
    r.recordIndex = u8(v, kRecordIndexAt);
    r.sizeOffset = le32(v, kSizeOffsetAt);
    r.sizeByteCount = le32(v, kSizeByteCountAt);
    r.headerSize = le32(v, kHeaderSizeAt);
    r.sizeIncludesHeader = u8(v, kIncludesHeaderAt);
    r.approxSize = le64(v, kApproxSizeAt);
    r.skipSize = le64(v, kSkipSizeAt);
    r.category = readUnits(v, kCategoryAt, kCategoryUnits - 1);
    return r;
}

std::array<std::uint8_t, kSignatureRecordBytes> SignatureRecord::encode() const {
    std::array<std::uint8_t, kSignatureRecordBytes> out{};
    std::span<std::uint8_t> b(out);
    writeUnits(b, kExtensionAt, extension, kExtensionKept);
    out[kExtensionLengthAt] = extensionLength;
    for (std::size_t i = 0; i < kSignatureBytes; ++i) {
        out[kStartAt + i] = startSignature[i];
        out[kEndAt + i] = endSignature[i];
    }
    out[kStartLengthAt] = startLength;
    out[kEndLengthAt] = endLength;
    out[kRecordIndexAt] = recordIndex;
    storeLe32(b, kSizeOffsetAt, sizeOffset);
    storeLe32(b, kSizeByteCountAt, sizeByteCount);
    storeLe32(b, kHeaderSizeAt, headerSize);
    out[kIncludesHeaderAt] = sizeIncludesHeader;
    storeLe64(b, kApproxSizeAt, approxSize);
    storeLe64(b, kSkipSizeAt, skipSize);
    writeUnits(b, kCategoryAt, category, kCategoryUnits - 1);
    return out;
}

}  // namespace salvage
