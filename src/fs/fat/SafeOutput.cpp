#include "fs/fat/SafeOutput.h"

#include "platform/OutputNames.h"

namespace salvage::fat {

// The rules live in platform/OutputNames, shared by every parser and the folder save.
std::filesystem::path safeOutputPath(const std::filesystem::path& folder, const std::u16string& name) {
    return salvage::safeOutputPath(folder, name);
}

}  // namespace salvage::fat
