#include "FatTestSupport.h"

#include "platform/Text.h"

namespace salvage::test {

std::unique_ptr<ParsedVolume> parseVolume(std::unique_ptr<VolumeParser> parser,
                                          std::unique_ptr<readWriteInterface> source, std::int64_t startSector) {
    auto v = std::make_unique<ParsedVolume>();
    v->source = std::move(source);
    v->parser = std::move(parser);
    VolumeRecord rec;
    rec.startSector = startSector;
    rec.sizeText = u16(std::to_string(v->source->totalSectors() / 2048) + "   MB");
    v->parser->attach(v->source.get(), &v->tree, &v->reporter, rec);
    v->result = v->parser->parse(RecoveryMode::Standard);
    return v;
}

RecordId ParsedVolume::find(const std::u16string& path) const {
    RecordId cur = 0;
    std::size_t pos = 0;
    while (pos <= path.size()) {
        const auto slash = path.find(u'/', pos);
        const std::u16string part = path.substr(pos, slash == std::u16string::npos ? std::u16string::npos : slash - pos);
        RecordId found = -1;
        parser->forEachChild(cur, [&](RecordId c) {
            if (parser->name(c) == part) { found = c; return false; }
            return true;
        });
        if (found < 0) return -1;
        cur = found;
        if (slash == std::u16string::npos) break;
        pos = slash + 1;
    }
    return cur;
}

std::string ParsedVolume::listing() const {
    std::string out;
    std::function<void(RecordId, const std::string&, int)> walk = [&](RecordId id, const std::string& prefix, int depth) {
        if (depth > 32) return;
        parser->forEachChild(id, [&](RecordId c) {
            const std::string p = prefix + "/" + toUtf8(parser->name(c));
            out += p + (parser->isDeleted(c) ? " (deleted)" : "") + "\n";
            walk(c, p, depth + 1);
            return true;
        });
    };
    walk(0, "", 0);
    return out;
}

}  // namespace salvage::test
