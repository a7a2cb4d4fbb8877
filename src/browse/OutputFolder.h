#pragma once
// The one writer of host files. Everything a save, a carve or a report puts
// on the host goes through an OutputFolder: the folder is opened once, and
// subfolders and files are made relative to its descriptor, never through a
// link the writer did not make. A name already taken by a link (or by a
// folder where a file is wanted) is left alone and the entry takes the next
// numbered name. Files are created exclusively, every write and the close
// are checked, the digests are taken from the bytes as they are written,
// and the times are set last, on the open file.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "browse/FileContent.h"
#include "browse/FileDigest.h"
#include "platform/FileTimes.h"

namespace salvage {

// A folder opened inside the output folder (or the output folder itself).
class OutputDir {
public:
    OutputDir() = default;
    OutputDir(int fd, std::filesystem::path path) : fd_(fd), path_(std::move(path)) {}
    ~OutputDir();
    OutputDir(OutputDir&& o) noexcept : fd_(o.fd_), path_(std::move(o.path_)) { o.fd_ = -1; }
    OutputDir& operator=(OutputDir&& o) noexcept;
    OutputDir(const OutputDir&) = delete;
    OutputDir& operator=(const OutputDir&) = delete;

    bool valid() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    const std::filesystem::path& path() const { return path_; }

private:
    int fd_ = -1;
    std::filesystem::path path_;
};

// One file being written. As a ContentSink it takes a parser's pieces: it
// writes them in order, keeps where each byte came from and which ranges
// are damage, and stops at the size limit it was made with. Missing content
// inside the file is zeros at its place; missing content at its end is
// recorded as damage but not written, so the file ends where its content
// ended.
class OutputFile : public ContentSink {
public:
    ~OutputFile() override;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    bool put(const ContentPiece& piece) override;
    // Plain bytes (reports, carved files).
    bool write(const std::uint8_t* data, std::size_t size);
    bool write(const std::string& text) { return write(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()); }
    // Zeros up to `size`, reported as missing with the cause.
    void fillMissing(std::uint64_t size, const char* why);

    // Ends the file: its length, then its times, then the close. False when
    // any step failed (see error()); the file is then removed.
    bool finish(std::optional<UnixNanos> access = std::nullopt, std::optional<UnixNanos> modification = std::nullopt);
    // Removes the file (a save that is abandoned).
    void discard();

    const std::filesystem::path& path() const { return path_; }
    const std::string& name() const { return name_; }
    std::uint64_t size() const { return layout_.size(); }
    bool failed() const { return failed_; }
    bool clipped() const { return layout_.clipped(); }
    const std::string& error() const { return error_; }
    const FileDigest& digest() const { return digest_; }
    const std::vector<ByteRun>& runs() const { return runs_; }
    const std::vector<DamagedRange>& damaged() const { return damaged_; }
    std::uint64_t badBytes() const;

private:
    friend class OutputFolder;
    OutputFile(int dirFd, int fd, std::string name, std::filesystem::path path, std::uint64_t limit);
    bool writeAll(const std::uint8_t* data, std::uint64_t size, std::uint64_t at);
    void fail(const std::string& what);
    void settle(std::uint64_t upTo);
    void noteRun(const ContentPiece& p, const PieceLayout::Step& s);
    void noteDamage(std::uint64_t fileOffset, std::uint64_t length, std::optional<std::uint64_t> imageOffset,
                    const char* why);

    int dirFd_;
    int fd_;
    std::string name_;
    std::filesystem::path path_;
    PieceLayout layout_;           // bytes of the file so far (holes included), the limit
    std::uint64_t allocated_ = 0;  // bytes up to which the file's length is set
    std::uint64_t hashed_ = 0;     // bytes digested so far
    std::optional<std::uint64_t> missingFrom_;  // start of missing content nothing followed yet
    bool failed_ = false, finished_ = false;
    std::string error_;
    StreamDigest hasher_;
    FileDigest digest_;
    std::vector<ByteRun> runs_;
    std::vector<DamagedRange> damaged_;
};

class OutputFolder {
public:
    OutputFolder() = default;
    OutputFolder(const OutputFolder&) = delete;
    OutputFolder& operator=(const OutputFolder&) = delete;

    // Opens the folder, creating it and its parents when missing. The
    // folder the user names may itself be reached through a link; nothing
    // inside it is.
    bool open(const std::filesystem::path& folder);
    bool isOpen() const { return root_.valid(); }
    const OutputDir& root() const { return root_; }
    const std::string& error() const { return error_; }

    // Keeps a name free for a file written later (the reports).
    void reserve(const OutputDir& dir, const std::string& name);
    // A subfolder: a real folder of the name (made now or already there) is
    // used; a name taken by a file or a link gives the next numbered name.
    // An invalid OutputDir when none can be made.
    OutputDir subfolder(const OutputDir& parent, const std::string& name);
    // A new file named `name` or, when that is taken in this run or on the
    // host by anything but a plain file, the next numbered name. A plain
    // file of the name from an earlier save is replaced. Null when the file
    // cannot be created (error() says why). Writes stop at `limit` bytes.
    std::unique_ptr<OutputFile> create(const OutputDir& dir, const std::string& name,
                                       std::uint64_t limit = UINT64_MAX);
    // The same for a name reserved earlier: the reservation is used.
    std::unique_ptr<OutputFile> createReserved(const OutputDir& dir, const std::string& name,
                                               std::uint64_t limit = UINT64_MAX);
    // Writes a whole small file (a report) under `name`.
    std::optional<std::filesystem::path> writeWhole(const OutputDir& dir, const std::string& name,
                                                    const std::string& text);

private:
    struct Names {
        std::unordered_set<std::string> used;            // taken in this run
        std::unordered_set<std::string> folders;         // of those, folders made or reused
        std::unordered_set<std::string> reserved;        // kept for later files
        std::unordered_map<std::string, int> next;       // next number to try per base name
    };
    Names& namesOf(const OutputDir& dir) { return names_[dir.path().lexically_normal().string()]; }
    std::unique_ptr<OutputFile> createFrom(const OutputDir& dir, const std::string& name, std::uint64_t limit,
                                           int firstNumber);

    OutputDir root_;
    std::string error_;
    std::unordered_map<std::string, Names> names_;
};

}  // namespace salvage
