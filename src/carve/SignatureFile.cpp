#include "carve/SignatureFile.h"

#include <fstream>
#include <vector>

#include "platform/Text.h"

namespace salvage {

namespace {
// The size rule reads four bytes at sizeOffset inside the 512-byte sector
// of the hit.
constexpr std::int64_t kSizeSectorBytes = 512;
constexpr std::uint32_t kMaxSizeFieldBytes = 8;

void say(Reporter& r, const std::u16string& text) { r.message(text, u"", MessageIcon::Information); }

std::u16string trim(std::u16string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && (s[b] == u' ' || s[b] == u'\t')) ++b;
    while (e > b && (s[e - 1] == u' ' || s[e - 1] == u'\t')) --e;
    return std::u16string(s.substr(b, e - b));
}

// Leading number in the given base, optional sign; no digits read as 0.
std::int64_t readNumber(std::u16string_view text, int base) {
    std::u16string s = trim(text);
    std::size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == u'-' || s[i] == u'+')) negative = s[i++] == u'-';
    if (base == 16 && i + 1 < s.size() && s[i] == u'0' && (s[i + 1] == u'x' || s[i + 1] == u'X')) i += 2;
    std::uint64_t v = 0;
    for (; i < s.size(); ++i) {
        char16_t c = s[i];
        int d = c >= u'0' && c <= u'9' ? c - u'0'
              : base == 16 && c >= u'a' && c <= u'f' ? c - u'a' + 10
              : base == 16 && c >= u'A' && c <= u'F' ? c - u'A' + 10 : -1;
        if (d < 0) break;
        v = v * std::uint64_t(base) + std::uint64_t(d);  // unsigned: a huge number wraps, keeping its low bits
    }
    return std::int64_t(negative ? 0 - v : v);
}

// 32-bit value widened with its sign, as the editor stores sizes.
std::uint64_t widened32(std::u16string_view text) {
    return std::uint64_t(std::int64_t(std::int32_t(std::uint32_t(readNumber(text, 10)))));
}

std::u16string extensionOf(const SignatureRecord& r) { return r.extension.empty() ? u"?" : r.extension; }
}  // namespace

std::vector<std::uint8_t> parseSignatureText(std::u16string_view text) {
    std::vector<std::uint8_t> bytes;
    std::size_t from = 0;
    while (from <= text.size()) {
        std::size_t comma = text.find(u',', from);
        std::u16string piece = trim(text.substr(from, comma == std::u16string_view::npos ? text.npos : comma - from));
        if (!piece.empty()) bytes.push_back(std::uint8_t(readNumber(piece, 16)));
        if (comma == std::u16string_view::npos) break;
        from = comma + 1;
    }
    return bytes;
}

std::optional<SignatureRecord> buildSignatureRecord(const SignatureFields& f, std::uint8_t recordIndex,
                                                    Reporter& reporter) {
    SignatureRecord r;
    r.recordIndex = recordIndex;
    if (f.extension.empty()) {
        say(reporter, u"extention length is zero..");
        return std::nullopt;
    }
    r.extensionLength = std::uint8_t(f.extension.size());
    r.extension = f.extension.substr(0, kExtensionKept);

    std::vector<std::uint8_t> start = parseSignatureText(f.startSignature);
    std::vector<std::uint8_t> end = parseSignatureText(f.endSignature);
    if (start.empty()) {
        say(reporter, u"signature length is zero..");
        return std::nullopt;
    }
    // A signature that does not fit would be stored cut, and would then
    // match other files than the user meant.
    if (start.size() > kSignatureBytes || end.size() > kSignatureBytes) {
        say(reporter, u"signature is longer than 10 bytes..");
        return std::nullopt;
    }
    if (f.category.size() >= kCategoryUnits) {
        say(reporter, u"category is longer than 49 characters..");
        return std::nullopt;
    }
    std::copy(start.begin(), start.end(), r.startSignature.begin());
    std::copy(end.begin(), end.end(), r.endSignature.begin());
    r.startLength = std::uint8_t(start.size());
    r.endLength = std::uint8_t(end.size());

    std::int64_t sizeOffset = readNumber(f.sizeOffset, 10);
    if (sizeOffset > 0) r.sizeOffset = std::uint32_t(sizeOffset);
    r.sizeByteCount = std::uint32_t(readNumber(f.sizeByteCount, 10));
    r.headerSize = std::uint32_t(readNumber(f.headerSize, 10));
    r.approxSize = widened32(f.approxSize);
    r.skipSize = widened32(f.skipSize);
    r.sizeIncludesHeader = f.sizeIncludesHeader ? 1 : 0;
    r.category = f.category;
    return r;
}

std::optional<std::u16string> signatureTypeProblem(const SignatureRecord& r) {
    if (r.startLength > kSignatureBytes || r.endLength > kSignatureBytes)
        return u"signature of type " + extensionOf(r) + u" is longer than 10 bytes; type not loaded";
    // The size rule applies to a type without end signature that names a
    // size field; the field must lie inside the hit's sector.
    if (r.endLength == 0 && r.sizeByteCount > 0) {
        auto offset = std::int64_t(std::int32_t(r.sizeOffset));
        std::int64_t width = std::max<std::int64_t>(4, r.sizeByteCount);
        if (offset <= 0 || r.sizeByteCount > kMaxSizeFieldBytes || offset + width > kSizeSectorBytes)
            return u"size field of type " + extensionOf(r) + u" lies outside its sector; type not loaded";
    }
    return std::nullopt;
}

SignatureFileWriter::~SignatureFileWriter() { close(); }

void SignatureFileWriter::close() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
}

bool SignatureFileWriter::choose(const std::filesystem::path& path, Reporter& reporter) {
    close();
    file_ = std::fopen(path.c_str(), "w+b");
    if (!file_) {
        say(reporter, u"file can not be created");
        return false;
    }
    return true;
}

bool SignatureFileWriter::appendSignature(const SignatureFields& fields, Reporter& reporter) {
    if (!file_) return false;
    if (std::fseek(file_, 0, SEEK_END) != 0) return false;
    long length = std::ftell(file_);
    if (length < 0) return false;
    auto index = std::uint8_t(std::uint64_t(length) / kSignatureRecordBytes);
    std::optional<SignatureRecord> record = buildSignatureRecord(fields, index, reporter);
    if (!record) return false;
    auto bytes = record->encode();
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size() || std::fflush(file_) != 0) {
        say(reporter, u"file can not be written");
        return false;
    }
    say(reporter, u"everything initialized well.....");
    return true;
}

namespace {
enum class LoadResult { Loaded, CannotOpen, Invalid };

// Reads a settings file's records and adds the loadable ones to the engine.
// `strict` applies the user file's checks.
LoadResult loadInto(const std::filesystem::path& path, std::unique_ptr<myJpg>& engine, bool freshEngine, bool strict,
                    Reporter& reporter) {
    std::ifstream in(path, std::ios::binary);
    std::error_code ec;
    if (!in || std::filesystem::is_directory(path, ec)) return LoadResult::CannotOpen;
    reporter.setStatus(u"Processing.....");
    if (freshEngine || !engine) engine = std::make_unique<myJpg>();

    in.seekg(0, std::ios::end);
    auto length = std::uint64_t(std::max<std::streamoff>(in.tellg(), 0));
    if (length > kMaxSettingsFileBytes) {
        say(reporter, u"not a valid file..");
        return LoadResult::Invalid;
    }
    std::vector<std::uint8_t> bytes(length);
    in.seekg(0);
    if (length && !in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(length))) return LoadResult::CannotOpen;

    const std::uint64_t whole = length / kSignatureRecordBytes;
    ByteView view(bytes);
    if (whole == 0) {
        say(reporter, u"not a valid file..");
        return LoadResult::Invalid;
    }
    SignatureRecord last = SignatureRecord::decode(view.sub((whole - 1) * kSignatureRecordBytes, kSignatureRecordBytes));
    if (strict && last.sizeByteCount > kMaxSizeFieldBytes) {
        say(reporter, u"not a valid file..");
        return LoadResult::Invalid;
    }
    // The last record's index says how many records the file holds; a file
    // cannot give more than it has.
    const std::uint64_t count = std::min<std::uint64_t>(std::uint64_t(last.recordIndex) + 1, whole);
    for (std::uint64_t i = 0; i < count; ++i) {
        SignatureRecord r = SignatureRecord::decode(view.sub(i * kSignatureRecordBytes, kSignatureRecordBytes));
        if (auto problem = signatureTypeProblem(r)) {
            say(reporter, *problem);
            continue;
        }
        engine->addSignatureType(r, std::uint32_t(engine->signatureTypes.size()));
    }
    return LoadResult::Loaded;
}
}  // namespace

std::filesystem::path defaultSettingsPath() {
    std::error_code ec;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return (ec ? std::filesystem::current_path(ec) : exe.parent_path()) / kDefaultSettingsName;
}

void loadDefaultSignatures(const std::filesystem::path& path, std::unique_ptr<myJpg>& engine, Reporter& reporter) {
    if (path.empty()) return;
    loadInto(path, engine, true, false, reporter);
}

bool loadUserSignatures(const std::filesystem::path& path, std::unique_ptr<myJpg>& engine, Reporter& reporter) {
    if (path.empty()) return true;
    switch (loadInto(path, engine, false, true, reporter)) {
        case LoadResult::CannotOpen:
            say(reporter, u"can not open file");
            return false;
        case LoadResult::Invalid:
            return false;
        case LoadResult::Loaded:
            return true;
    }
    return false;
}

}  // namespace salvage
