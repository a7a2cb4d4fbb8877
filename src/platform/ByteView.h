#pragma once
// Bounded views over on-disk bytes and explicit little/big-endian field reads.
// A read that does not fit inside the view yields 0: a defined, checked
// outcome, never a read outside the buffer.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

namespace salvage {

class ByteView {
public:
    constexpr ByteView() = default;
    constexpr ByteView(const std::uint8_t* data, std::size_t size) : data_(data), size_(data ? size : 0) {}
    ByteView(const void* data, std::size_t size) : ByteView(static_cast<const std::uint8_t*>(data), size) {}
    ByteView(std::span<const std::uint8_t> s) : ByteView(s.data(), s.size()) {}
    ByteView(const std::vector<std::uint8_t>& v) : ByteView(v.data(), v.size()) {}

    constexpr const std::uint8_t* data() const { return data_; }
    constexpr std::size_t size() const { return size_; }
    constexpr bool empty() const { return size_ == 0; }

    // True when [offset, offset + count) lies inside the view; cannot overflow.
    constexpr bool has(std::size_t offset, std::size_t count) const {
        return offset <= size_ && count <= size_ - offset;
    }
    // The part [offset, offset + count), clamped to the view; empty when
    // offset lies past the end.
    ByteView sub(std::size_t offset, std::size_t count = SIZE_MAX) const {
        if (offset > size_) return {};
        std::size_t n = size_ - offset;
        return {data_ + offset, count < n ? count : n};
    }
    std::uint8_t operator[](std::size_t offset) const { return offset < size_ ? data_[offset] : 0; }
    // Copies count bytes at offset into out when they fit; false (out untouched) otherwise.
    bool copyTo(std::size_t offset, void* out, std::size_t count) const {
        if (!has(offset, count)) return false;
        if (count) std::memcpy(out, data_ + offset, count);
        return true;
    }
    // Compares the bytes at offset with a literal tag such as "FILE".
    bool matches(std::size_t offset, std::string_view tag) const {
        return has(offset, tag.size()) && std::memcmp(data_ + offset, tag.data(), tag.size()) == 0;
    }

private:
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

namespace detail {
template <std::size_t N>
inline std::uint64_t loadLe(ByteView v, std::size_t off) {
    if (!v.has(off, N)) return 0;
    std::uint64_t r = 0;
    for (std::size_t i = 0; i < N; ++i) r |= std::uint64_t(v.data()[off + i]) << (8 * i);
    return r;
}
template <std::size_t N>
inline std::uint64_t loadBe(ByteView v, std::size_t off) {
    if (!v.has(off, N)) return 0;
    std::uint64_t r = 0;
    for (std::size_t i = 0; i < N; ++i) r = (r << 8) | v.data()[off + i];
    return r;
}
}  // namespace detail

inline std::uint8_t u8(ByteView v, std::size_t off) { return v[off]; }
inline std::uint16_t le16(ByteView v, std::size_t off) { return std::uint16_t(detail::loadLe<2>(v, off)); }
inline std::uint32_t le24(ByteView v, std::size_t off) { return std::uint32_t(detail::loadLe<3>(v, off)); }
inline std::uint32_t le32(ByteView v, std::size_t off) { return std::uint32_t(detail::loadLe<4>(v, off)); }
inline std::uint64_t le48(ByteView v, std::size_t off) { return detail::loadLe<6>(v, off); }
inline std::uint64_t le64(ByteView v, std::size_t off) { return detail::loadLe<8>(v, off); }
inline std::uint16_t be16(ByteView v, std::size_t off) { return std::uint16_t(detail::loadBe<2>(v, off)); }
inline std::uint32_t be32(ByteView v, std::size_t off) { return std::uint32_t(detail::loadBe<4>(v, off)); }
inline std::uint64_t be64(ByteView v, std::size_t off) { return detail::loadBe<8>(v, off); }
inline std::int16_t sle16(ByteView v, std::size_t off) { return std::int16_t(le16(v, off)); }
inline std::int32_t sle32(ByteView v, std::size_t off) { return std::int32_t(le32(v, off)); }
inline std::int64_t sle64(ByteView v, std::size_t off) { return std::int64_t(le64(v, off)); }

// Little-endian stores into a mutable buffer, bounds-checked; used by the
// fix-up pass and by test builders.
inline bool storeLe16(std::span<std::uint8_t> b, std::size_t off, std::uint16_t value) {
    if (off > b.size() || b.size() - off < 2) return false;
    b[off] = std::uint8_t(value);
    b[off + 1] = std::uint8_t(value >> 8);
    return true;
}
inline bool storeLe32(std::span<std::uint8_t> b, std::size_t off, std::uint32_t value) {
    if (off > b.size() || b.size() - off < 4) return false;
    for (int i = 0; i < 4; ++i) b[off + i] = std::uint8_t(value >> (8 * i));
    return true;
}
inline bool storeLe64(std::span<std::uint8_t> b, std::size_t off, std::uint64_t value) {
    if (off > b.size() || b.size() - off < 8) return false;
    for (int i = 0; i < 8; ++i) b[off + i] = std::uint8_t(value >> (8 * i));
    return true;
}

// Overflow-checked arithmetic for counts x sizes taken from disk.
inline bool checkedMul(std::uint64_t a, std::uint64_t b, std::uint64_t& out) {
    return !__builtin_mul_overflow(a, b, &out);
}
inline bool checkedAdd(std::uint64_t a, std::uint64_t b, std::uint64_t& out) {
    return !__builtin_add_overflow(a, b, &out);
}
inline bool checkedMul(std::int64_t a, std::int64_t b, std::int64_t& out) {
    return !__builtin_mul_overflow(a, b, &out);
}
inline bool checkedAdd(std::int64_t a, std::int64_t b, std::int64_t& out) {
    return !__builtin_add_overflow(a, b, &out);
}

}  // namespace salvage
