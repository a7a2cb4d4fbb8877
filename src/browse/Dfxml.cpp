#include "browse/Dfxml.h"

#include <algorithm>
#include <fstream>

#include "browse/SaveReport.h"
#include "image/EwfInfo.h"
#include "image/ImageOpen.h"
#include "platform/Text.h"

namespace salvage {

namespace {
namespace fs = std::filesystem;

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// The length of the valid UTF-8 sequence at s[i], 0 when there is none.
std::size_t utf8Length(std::string_view s, std::size_t i, char32_t& cp) {
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = b(i);
    std::size_t n;
    if (c < 0x80) {
        cp = c;
        return 1;
    } else if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (i + n > s.size()) return 0;
    for (std::size_t k = 1; k < n; ++k) {
        if ((b(i + k) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b(i + k) & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return n;
}

bool allowedInXml(char32_t cp) {
    if (cp < 0x20) return cp == 0x09 || cp == 0x0A || cp == 0x0D;
    return cp != 0xFFFE && cp != 0xFFFF;
}

class Writer {
public:
    void open(std::string_view tag, const std::vector<std::pair<std::string_view, std::string>>& attrs = {},
              bool empty = false) {
        indent();
        out_ += '<';
        out_ += tag;
        for (const auto& [name, value] : attrs) {
            out_ += ' ';
            out_ += name;
            out_ += "=\"" + xmlEscape(value) + '"';
        }
        out_ += empty ? "/>\n" : ">\n";
        if (!empty) ++depth_;
    }
    void close(std::string_view tag) {
        --depth_;
        indent();
        out_ += "</" + std::string(tag) + ">\n";
    }
    void leaf(std::string_view tag, const std::string& text,
              const std::vector<std::pair<std::string_view, std::string>>& attrs = {}) {
        indent();
        out_ += '<';
        out_ += tag;
        for (const auto& [name, value] : attrs) out_ += ' ' + std::string(name) + "=\"" + xmlEscape(value) + '"';
        out_ += '>' + xmlEscape(text) + "</" + std::string(tag) + ">\n";
    }
    void raw(std::string_view text) { out_ += text; }
    std::string take() { return std::move(out_); }

private:
    void indent() { out_.append(std::size_t(depth_) * 2, ' '); }
    std::string out_;
    int depth_ = 0;
};

std::string number(std::uint64_t v) { return std::to_string(v); }

using Attrs = std::vector<std::pair<std::string_view, std::string>>;

void writeRuns(Writer& w, const std::vector<ByteRun>& runs) {
    if (runs.empty()) return;
    w.open("byte_runs");
    for (const ByteRun& r : runs) {
        Attrs a{{"file_offset", number(r.fileOffset)}};
        if (r.imageOffset && r.kind != ByteRun::Kind::Sparse) a.emplace_back("img_offset", number(*r.imageOffset));
        switch (r.kind) {
            case ByteRun::Kind::Sparse:
                // No bytes on the image: the file reads zeros here.
                a.insert(a.end(), {{"len", number(r.length)}, {"fill", "0"}, {"type", "sparse"}});
                break;
            case ByteRun::Kind::Compressed:
                // len counts the stored bytes; the file gets uncompressed_len of them.
                a.insert(a.end(), {{"len", number(r.storedLength)},
                                   {"uncompressed_len", number(r.length)},
                                   {"type", "compressed"}});
                break;
            case ByteRun::Kind::Resident:
                a.insert(a.end(), {{"len", number(r.length)}, {"type", "resident"}});
                break;
            case ByteRun::Kind::Data:
                a.emplace_back("len", number(r.length));
                break;
        }
        w.open("byte_run", a, true);
    }
    w.close("byte_runs");
}

void writeFileObject(Writer& w, const DfxmlFileObject& f) {
    w.open("fileobject");
    // Elements in the order the format's readers expect them.
    w.leaf("filename", f.filename);
    w.leaf("filesize", number(f.filesize));
    // Deleted names are marked the way the other producers of this format mark them.
    if (f.allocated) w.leaf(*f.allocated ? "alloc" : "unalloc", "1");
    if (f.inode) w.leaf("inode", std::to_string(*f.inode));
    const std::pair<const char*, const std::optional<UnixNanos>*> times[] = {
        {"mtime", &f.times.modification}, {"ctime", &f.times.change},
        {"atime", &f.times.access}, {"crtime", &f.times.creation}};
    for (const auto& [tag, t] : times)
        if (*t) w.leaf(tag, isoTime(*t));
    writeRuns(w, f.runs);
    if (!f.md5.empty()) w.leaf("hashdigest", f.md5, {{"type", "md5"}});
    if (!f.sha256.empty()) w.leaf("hashdigest", f.sha256, {{"type", "sha256"}});
    if (!f.savedAs.empty()) w.leaf("s:saved_as", f.savedAs);
    if (!f.status.empty()) w.leaf("s:status", f.status);
    if (!f.reason.empty()) w.leaf("s:reason", f.reason);
    if (!f.stream.empty()) w.leaf("s:stream", f.stream);
    if (!f.damaged.empty()) {
        w.open("s:damaged_ranges");
        for (const DamagedRange& d : f.damaged) {
            Attrs a{{"file_offset", number(d.fileOffset)}};
            if (d.imageOffset) a.emplace_back("img_offset", number(*d.imageOffset));
            a.emplace_back("len", number(d.length));
            w.open("s:range", a, true);
        }
        w.close("s:damaged_ranges");
    }
    w.close("fileobject");
}

std::string statusText(const SavedFile& s) {
    switch (s.status) {
        case SaveStatus::Ok: return "ok";
        case SaveStatus::Damaged: return "damaged";
        case SaveStatus::Skipped: return "skipped";
        case SaveStatus::Failed: break;
    }
    // Records filled before the status field was set still carry the flags.
    return s.skipped ? "skipped" : s.ok ? "ok" : "failed";
}
}  // namespace

std::string xmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp = 0;
        const std::size_t n = utf8Length(text, i, cp);
        if (n == 0 || !allowedInXml(cp)) {
            out += kReplacement;
            i += n ? n : 1;
            continue;
        }
        switch (cp) {
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '&': out += "&amp;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            // Kept as references so attribute values keep them through parsing.
            case '\t': out += "&#9;"; break;
            case '\n': out += "&#10;"; break;
            case '\r': out += "&#13;"; break;
            default: out.append(text.substr(i, n));
        }
        i += n;
    }
    return out;
}

DfxmlFileObject dfxmlFileObject(const SavedFile& s, const fs::path& outDir) {
    DfxmlFileObject f;
    std::u16string path = s.volumePath;
    constexpr std::u16string_view root = kRootText;
    if (std::u16string_view(path).starts_with(root)) path.erase(0, root.size());
    while (!path.empty() && path[0] == u'\\') path.erase(0, 1);
    for (char16_t& c : path)
        if (c == u'\\') c = u'/';
    f.filename = toUtf8(path);
    f.inode = s.recordNumber;
    f.allocated = !s.deleted;
    f.times.modification = s.times.modification;
    f.times.access = s.times.access;
    f.times.creation = s.times.creation;
    f.filesize = s.expectedSize ? s.expectedSize : s.bytes;
    f.md5 = s.md5;
    f.sha256 = s.sha256;
    if (!s.written.empty()) f.savedAs = s.written.lexically_relative(outDir).generic_string();
    f.status = statusText(s);
    f.reason = s.reason;
    f.stream = toUtf8(s.stream);
    f.runs = s.runs;
    f.damaged = s.damaged;
    return f;
}

DfxmlDocument dfxmlForImage(const fs::path& imagePath, std::uint64_t imageSize) {
    DfxmlDocument doc;
    std::error_code ec;
    const fs::path absolute = fs::absolute(imagePath, ec);
    doc.imagePath = (ec ? imagePath : absolute).string();
    doc.imageSize = imageSize;
    if (looksLikeEwf(imagePath)) {
        EwfInfoRecord info;
        if (readImageInformation(imagePath, info, nullReporter())) {
            doc.acquisitionMd5 = info.acquisitionMd5;
            doc.acquisitionSha1 = info.acquisitionSha1;
        }
    }
    return doc;
}

DfxmlDocument dfxmlForSave(const VolumeParser& parser, const fs::path& imagePath, const std::vector<SavedFile>& saved,
                           const fs::path& outDir) {
    const std::uint64_t imageSize =
        parser.source ? std::uint64_t(std::max<std::int64_t>(parser.source->totalSectors(), 0)) * kSectorBytes : 0;
    DfxmlDocument doc = dfxmlForImage(imagePath, imageSize);
    DfxmlVolume v;
    v.offset = std::uint64_t(std::max<std::int64_t>(parser.volume.startSector, 0)) * kSectorBytes;
    v.fileSystem = toUtf8(parser.volume.fileSystem);
    for (const SavedFile& s : saved) {
        DfxmlFileObject f = dfxmlFileObject(s, outDir);
        if (parser.isValidRecord(s.record)) f.times = parser.meta(s.record);
        v.files.push_back(std::move(f));
    }
    doc.volumes.push_back(std::move(v));
    return doc;
}

std::string dfxmlText(const DfxmlDocument& doc) {
    Writer w;
    w.raw("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
    w.open("dfxml", {{"xmlns", kDfxmlNamespace},
                     {"xmlns:dc", "http://purl.org/dc/elements/1.1/"},
                     {"xmlns:s", kSalvageXmlNamespace},
                     {"version", "1.0"}});
    w.open("metadata");
    w.leaf("dc:type", "Recovered files");
    w.close("metadata");
    w.open("creator");
    w.leaf("program", "salvage");
    if (!doc.commandLine.empty()) {
        w.open("execution_environment");
        w.leaf("command_line", doc.commandLine);
        w.close("execution_environment");
    }
    w.close("creator");
    w.open("source");
    w.leaf("image_filename", doc.imagePath);
    w.leaf("image_size", number(doc.imageSize));
    if (!doc.acquisitionMd5.empty()) w.leaf("hashdigest", doc.acquisitionMd5, {{"type", "md5"}});
    if (!doc.acquisitionSha1.empty()) w.leaf("hashdigest", doc.acquisitionSha1, {{"type", "sha1"}});
    w.close("source");
    for (const DfxmlVolume& v : doc.volumes) {
        w.open("volume", {{"offset", number(v.offset)}});
        if (!v.fileSystem.empty()) w.leaf("ftype_str", v.fileSystem);
        for (const DfxmlFileObject& f : v.files) writeFileObject(w, f);
        w.close("volume");
    }
    w.close("dfxml");
    return w.take();
}

bool writeDfxml(const fs::path& file, const DfxmlDocument& doc) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out << dfxmlText(doc);
    return bool(out.flush());
}

}  // namespace salvage
