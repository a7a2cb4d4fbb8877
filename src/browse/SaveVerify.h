#pragma once
// Checks a saved copy against the image it came from and the digests the
// save recorded: the copy must still hash as recorded, and every byte a run
// places on the image must still be the image's byte there.
#include <string>

#include "browse/FolderSave.h"
#include "image/SectorSource.h"

namespace salvage {

// What differs, in words; empty when the copy matches. Uses `written`,
// `md5`, `sha256`, `runs` and `damaged` of the record. Bytes inside damaged
// ranges are not compared (the image could not give them), compressed runs
// only through the digests, sparse runs must read as zeros. The image is
// read with its baseOffset at 0 (run offsets count from the image's start).
std::string verifySavedFile(readWriteInterface& image, const SavedFile& saved);

}  // namespace salvage
