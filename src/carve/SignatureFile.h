#pragma once
// Signature settings files: building a record from the editor's fields and
// appending it, and the two loaders that hand a file's records to a carving
// engine. Messages go through the Reporter with the default caption.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "carve/SignatureRecord.h"
#include "carve/myJpg.h"
#include "platform/Reporter.h"

namespace salvage {

// A settings file is never larger than this; anything bigger is not one.
inline constexpr std::uint64_t kMaxSettingsFileBytes = 1048576;

// The editor's fields, as typed.
struct SignatureFields {
    std::u16string extension;
    std::u16string startSignature;  // "0x89,0x50,0x4E,0x47" or "89,50,4E,47"
    std::u16string endSignature;    // optional
    std::u16string sizeOffset;
    std::u16string sizeByteCount;
    bool sizeIncludesHeader = false;
    std::u16string headerSize;
    std::u16string skipSize;
    std::u16string approxSize;
    std::u16string category;
};

// Hexadecimal pieces separated by ",", empty pieces skipped, an optional
// "0x" prefix; text that is not a number reads as 0. Low 8 bits of each.
std::vector<std::uint8_t> parseSignatureText(std::u16string_view text);

// Builds the record the editor appends as the file's record `recordIndex`.
// On a field that cannot be stored, shows why and returns nothing.
std::optional<SignatureRecord> buildSignatureRecord(const SignatureFields& fields, std::uint8_t recordIndex,
                                                    Reporter& reporter);

// Why a loaded record cannot become a signature type (a signature longer
// than the record holds, or a size field the engine would read outside the
// hit's sector); nothing when it can.
std::optional<std::u16string> signatureTypeProblem(const SignatureRecord& record);

// The editor's open settings file.
class SignatureFileWriter {
public:
    ~SignatureFileWriter();
    // Creates the file, or empties an existing one, and keeps it open.
    // "file can not be created" on failure.
    bool choose(const std::filesystem::path& path, Reporter& reporter);
    bool isOpen() const { return file_ != nullptr; }
    // Appends one record built from the fields; does nothing without an open file.
    bool appendSignature(const SignatureFields& fields, Reporter& reporter);
    void close();

private:
    std::FILE* file_ = nullptr;
};

inline constexpr char kDefaultSettingsName[] = "FileSetting.txt";
// "FileSetting.txt" in the running program's own folder.
std::filesystem::path defaultSettingsPath();

// Loads the default settings file into a new engine (dropping the previous
// one). A file that cannot be opened loads nothing, silently.
void loadDefaultSignatures(const std::filesystem::path& path, std::unique_ptr<myJpg>& engine, Reporter& reporter);
// Loads a user settings file, adding to the engine or making one. False when
// the file cannot be opened or is not valid (the caller stops).
bool loadUserSignatures(const std::filesystem::path& path, std::unique_ptr<myJpg>& engine, Reporter& reporter);

}  // namespace salvage
