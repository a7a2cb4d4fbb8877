#include "browse/FilePreview.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <system_error>

namespace salvage {

namespace fs = std::filesystem;

namespace {
// The parser's one-file save into a private folder that is removed again:
// the only whole-content read every parser offers.
FileHead readThroughSave(VolumeParser& parser, RecordId id, std::size_t maxBytes, FileHead head) {
    // A new folder only this user can enter (mkdtemp), so nothing else in
    // the temporary folder can stand in for it.
    std::error_code ec;
    const fs::path base = fs::temp_directory_path(ec);
    if (ec) return head;
    std::string pattern = (base / "salvage-preview-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) return head;
    const fs::path dir = pattern;
    // A Stop left from an earlier job would cut the file short.
    const bool stop = parser.stopRequested.exchange(false);
    const SaveOutcome saved = parser.saveFile(id, dir);
    parser.stopRequested = stop;
    if (saved.ok && !saved.written.empty()) {
        std::ifstream in(saved.written, std::ios::binary);
        const std::uintmax_t onDisk = fs::file_size(saved.written, ec);
        const std::size_t want = ec ? maxBytes : std::size_t(std::min<std::uintmax_t>(onDisk, maxBytes));
        head.bytes.resize(want);
        in.read(head.bytes.data(), std::streamsize(want));
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
