#include "browse/FilePreview.h"

#include "browse/FileContent.h"

#include <algorithm>

namespace salvage {

namespace {
// Takes the first maxBytes of a file's content and then asks for no more.
class HeadSink final : public ContentSink {
public:
    HeadSink(std::string& out, std::size_t maxBytes) : out_(out), max_(maxBytes) {}
    bool put(const ContentPiece& piece) override {
        const std::size_t room = max_ - std::min(max_, out_.size());
        const std::size_t take = std::size_t(std::min<std::uint64_t>(piece.length, room));
        if (piece.data) out_.append(reinterpret_cast<const char*>(piece.data), take);
        else out_.append(take, '\0');
        return out_.size() < max_;
    }

private:
    std::string& out_;
    std::size_t max_;
};
}  // namespace

FileHead readFileHead(VolumeParser& parser, RecordId id, std::size_t maxBytes) {
    FileHead head;
    if (!parser.isValidRecord(id) || parser.isDirectory(id)) {
        head.result = FileHead::Result::NotAFile;
        return head;
    }
    head.fileSize = parser.sizeBytes(id);
    if (head.fileSize > kPreviewFileLimit) {
        head.result = FileHead::Result::TooLarge;
        return head;
    }
    // The content read writes nothing anywhere; a Stop left from an earlier
    // job would cut it short.
    const bool stop = parser.stopRequested.exchange(false);
    HeadSink sink(head.bytes, maxBytes);
    if (maxBytes > 0) parser.readContent(id, sink);
    parser.stopRequested = stop;
    head.result = FileHead::Result::Read;
    return head;
}

}  // namespace salvage
