#pragma once
// Digital Forensics XML for what a save or a carve wrote: the image, the
// volume, and one fileobject per file with its place on the image (byte
// runs), its times, digests and how the save went. Other examiners' tools
// read this form; elements the format has no name for (the save status,
// damaged ranges, the saved copy's name) live in the program's own namespace.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "browse/FolderSave.h"

namespace salvage {

inline constexpr char kDfxmlNamespace[] = "http://www.forensicswiki.org/wiki/Category:Digital_Forensics_XML";
inline constexpr char kSalvageXmlNamespace[] = "urn:x-salvage:dfxml";

struct DfxmlFileObject {
    std::string filename;              // in the volume ("dir/name"), or the carved file's name
    std::optional<std::int64_t> inode; // record number
    std::optional<bool> allocated;     // unknown for carved finds
    RecordMeta times;                  // mtime, atime, ctime, crtime
    std::uint64_t filesize = 0;
    std::string md5, sha256;           // of the saved copy
    std::string savedAs;               // the saved copy, relative to the output folder
    std::string status;                // ok, damaged, failed, skipped
    std::string reason;
    std::string stream;                // a file's named data stream: its name (the file's inode)
    std::vector<ByteRun> runs;
    std::vector<DamagedRange> damaged;
};

struct DfxmlVolume {
    std::uint64_t offset = 0;          // bytes from the image's start
    std::string fileSystem;            // empty when not known
    std::vector<DfxmlFileObject> files;
};

struct DfxmlDocument {
    std::string imagePath;
    std::uint64_t imageSize = 0;
    std::string acquisitionMd5, acquisitionSha1;  // stored in the image by its acquisition
    std::string commandLine;
    std::vector<DfxmlVolume> volumes;
};

// A saved file's fileobject; outDir makes savedAs relative.
DfxmlFileObject dfxmlFileObject(const SavedFile& saved, const std::filesystem::path& outDir);

// The document for a save from the parser's volume: the image (its size,
// and its acquisition hashes when it is EWF), the volume, and each saved
// file with the times and record number the parser gives for it.
DfxmlDocument dfxmlForSave(const VolumeParser& parser, const std::filesystem::path& imagePath,
                           const std::vector<SavedFile>& saved, const std::filesystem::path& outDir);
// The image part alone (path, size, acquisition hashes), for carves.
DfxmlDocument dfxmlForImage(const std::filesystem::path& imagePath, std::uint64_t imageSize);

std::string dfxmlText(const DfxmlDocument& doc);
bool writeDfxml(const std::filesystem::path& file, const DfxmlDocument& doc);

// Text and attribute content: markup characters as entities, characters
// XML 1.0 cannot hold (controls other than tab and line ends, stray bytes
// that are not UTF-8) as U+FFFD.
std::string xmlEscape(std::string_view text);

}  // namespace salvage
