#include "browse/FilePreview.h"

#include <unistd.h>

#include <fstream>
#include <system_error>

namespace salvage {

namespace fs = std::filesystem;

namespace {
// The parser's one-file save into a private folder that is removed again:
// the only whole-content read every parser offers.
FileHead readThroughSave(VolumeParser& parser, RecordId id, std::size_t maxBytes, FileHead head) {
    std::error_code ec;
    const fs::path dir = fs::temp_directory_path(ec) / ("salvage-preview-" + std::to_string(::getpid()));
    if (ec) return head;
    fs::remove_all(dir, ec);
    if (!fs::create_directories(dir, ec) || ec) return head;
    fs::permissions(dir, fs::perms::owner_all, ec);
    // A Stop left from an earlier job would cut the file short.
    const bool stop = parser.stopRequested.exchange(false);
    const SaveOutcome saved = parser.saveFile(id, dir);
    parser.stopRequested = stop;
    if (saved.ok && !saved.written.empty()) {
        std::ifstream in(saved.written, std::ios::binary);
        head.bytes.resize(maxBytes);
        in.read(head.bytes.data(), std::streamsize(maxBytes));
        head.bytes.resize(std::size_t(in.gcount()));
        head.result = in.bad() ? FileHead::Result::Failed : FileHead::Result::Read;
    }
    fs::remove_all(dir, ec);
    return head;
}
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
    return readThroughSave(parser, id, maxBytes, head);
}

}  // namespace salvage
