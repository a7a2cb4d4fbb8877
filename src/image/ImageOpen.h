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

// True when the file starts with an EWF segment signature.
bool looksLikeEwf(const std::filesystem::path& path);

}  // namespace salvage
