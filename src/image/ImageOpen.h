#pragma once
// Opens an image of any kind the system reads, choosing the reader by the
// first segment's contents.
#include <filesystem>
#include <memory>
#include <string>

#include "image/Globals.h"
#include "image/SectorSource.h"
#include "platform/Reporter.h"

namespace salvage {

struct OpenedImage {
    std::unique_ptr<readWriteInterface> source;
    ImageKind kind = ImageKind::None;
};

// Raw files and block devices open through FileReadSeek; an image whose first
// segment starts with the EWF signature through the EWF reader. On failure
// `source` is null and `error` says why.
OpenedImage openImage(const std::filesystem::path& path, Reporter& reporter, std::string* error = nullptr);

// Why `path` cannot be an image, in a few words naming it ("... is a
// directory", "... is empty", "... cannot be read: ..."), or empty when its
// first bytes can be read. A wildcard pattern that names no file as such is
// left to the EWF reader.
std::string imageProblem(const std::filesystem::path& path);

// True when the file starts with an EWF segment signature.
bool looksLikeEwf(const std::filesystem::path& path);

}  // namespace salvage
