#include "browse/OutputFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "platform/OutputNames.h"

namespace salvage {

namespace fs = std::filesystem;

namespace {
// Numbered names tried for one entry before it is given up.
constexpr int kMaxNumbering = 1000000;

std::string errnoText(const char* what) { return std::string(what) + ": " + std::strerror(errno); }
}  // namespace

OutputDir::~OutputDir() {
    if (fd_ >= 0) ::close(fd_);
}

OutputDir& OutputDir::operator=(OutputDir&& o) noexcept {
    if (this != &o) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = o.fd_;
        path_ = std::move(o.path_);
        o.fd_ = -1;
    }
    return *this;
}

// ---------------------------------------------------------------- OutputFile

OutputFile::OutputFile(int dirFd, int fd, std::string name, fs::path path, std::uint64_t limit)
    : dirFd_(dirFd), fd_(fd), name_(std::move(name)), path_(std::move(path)), layout_(limit) {}

OutputFile::~OutputFile() {
    if (!finished_) discard();
    if (dirFd_ >= 0) ::close(dirFd_);
}

void OutputFile::fail(const std::string& what) {
    if (!failed_) error_ = what;
    failed_ = true;
}

bool OutputFile::writeAll(const std::uint8_t* data, std::uint64_t size, std::uint64_t at) {
    while (size > 0) {
        const ssize_t n = ::pwrite(fd_, data, std::size_t(std::min<std::uint64_t>(size, 1u << 30)), off_t(at));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            fail(errnoText("write failed"));
            return false;
        }
        data += n;
        size -= std::uint64_t(n);
        at += std::uint64_t(n);
    }
    allocated_ = std::max(allocated_, at);
    return true;
}

bool OutputFile::write(const std::uint8_t* data, std::size_t size) {
    ContentPiece p;
    p.fileOffset = layout_.size();
    p.data = data;
    p.length = size;
    return put(p);
}

void OutputFile::noteRun(const ContentPiece& p, const PieceLayout::Step& s) {
    const bool sparse = !p.data && p.kind == ByteRun::Kind::Sparse;
    if (!p.data && !sparse) return;  // missing bytes have no source
    if (!runs_.empty()) {
        ByteRun& last = runs_.back();
        const bool adjacent = last.fileOffset + last.length == s.at && last.kind == p.kind &&
                              last.kind != ByteRun::Kind::Compressed;
        if (adjacent && sparse) {
            last.length += s.length;
            return;
        }
        if (adjacent && last.imageOffset && s.imageOffset && *last.imageOffset + last.length == *s.imageOffset) {
            last.length += s.length;
            return;
        }
    }
    ByteRun r;
    r.fileOffset = s.at;
    r.length = s.length;
    if (!sparse) r.imageOffset = s.imageOffset;
    r.kind = p.kind;
    r.storedLength = p.storedLength;
    runs_.push_back(r);
}

void OutputFile::noteDamage(std::uint64_t fileOffset, std::uint64_t length, std::optional<std::uint64_t> imageOffset,
                            const char* why) {
    appendDamage(damaged_, fileOffset, length, imageOffset, why ? why : cause::kReadFailed);
}

void OutputFile::settle(std::uint64_t upTo) {
    // Everything between the digested prefix and upTo is a hole: zeros.
    if (upTo > hashed_) hasher_.addZeros(upTo - hashed_);
    hashed_ = std::max(hashed_, upTo);
}

bool OutputFile::put(const ContentPiece& piece) {
    if (failed_ || finished_) return false;
    const PieceLayout::Step s = layout_.place(piece);
    if (s.gap) {
        noteDamage(s.gapAt, s.gap, std::nullopt, cause::kNoRuns);
        if (!missingFrom_) missingFrom_ = s.gapAt;
    }
    if (s.length == 0) return !s.stop;
    // Missing content is only a record until real content follows it: a
    // file whose content ends early is not padded with invented zeros.
    if (s.missing) {
        noteDamage(s.at, s.length, s.imageOffset, piece.cause);
        if (!missingFrom_) missingFrom_ = s.at;
        return true;
    }
    missingFrom_.reset();  // the missing stretch lies inside the file: zeros there
    if (s.damaged) noteDamage(s.at, s.length, s.imageOffset, piece.cause);
    noteRun(piece, s);
    if (piece.data) {
        settle(s.at);
        if (!writeAll(piece.data + s.skip, s.length, s.at)) return false;
        hasher_.add(piece.data + s.skip, std::size_t(s.length));
        hashed_ += s.length;
    }
    // A sparse piece is a hole: its zeros are digested when passed.
    return !s.stop;
}

void OutputFile::fillMissing(std::uint64_t size, const char* why) {
    if (size <= layout_.size()) return;
    ContentPiece p;
    p.fileOffset = layout_.size();
    p.length = size - layout_.size();
    p.readOk = false;
    p.cause = why;
    put(p);
}

std::uint64_t OutputFile::badBytes() const {
    std::uint64_t n = 0;
    for (const DamagedRange& d : damaged_) n += d.length;
    return n;
}

bool OutputFile::finish(std::optional<UnixNanos> access, std::optional<UnixNanos> modification) {
    if (finished_) return !failed_;
    if (missingFrom_) layout_.endAt(*missingFrom_);  // the file ends where its content ended
    const std::uint64_t size = layout_.size();
    settle(size);
    if (!failed_ && allocated_ < size && ::ftruncate(fd_, off_t(size)) != 0) fail(errnoText("cannot set the length"));
    // The times go last: nothing touches the file after them.
    if (!failed_ && (access || modification)) setFileTimes(fd_, access, modification);
    if (!failed_) {
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0) fail(errnoText("close failed"));
    }
    if (failed_) {
        discard();
        return false;
    }
    digest_ = hasher_.finish();
    finished_ = true;
    return true;
}

void OutputFile::discard() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (dirFd_ >= 0 && !name_.empty()) ::unlinkat(dirFd_, name_.c_str(), 0);
    finished_ = true;
    if (!failed_) {
        failed_ = true;
        if (error_.empty()) error_ = "abandoned";
    }
}

// -------------------------------------------------------------- OutputFolder

bool OutputFolder::open(const fs::path& folder) {
    root_ = OutputDir();
    names_.clear();
    if (folder.empty()) {
        error_ = "no output folder";
        return false;
    }
    std::error_code ec;
    fs::create_directories(folder, ec);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        error_ = errnoText(("cannot open " + folder.string()).c_str());
        return false;
    }
    root_ = OutputDir(fd, folder);
    return true;
}

void OutputFolder::reserve(const OutputDir& dir, const std::string& name) { namesOf(dir).reserved.insert(name); }

OutputDir OutputFolder::subfolder(const OutputDir& parent, const std::string& name) {
    if (!parent.valid()) return {};
    Names& n = namesOf(parent);
    for (int k = 1; k <= kMaxNumbering; ++k) {
        const std::string cand = k == 1 ? name : fitHostName(numberedName(name, k));
        const bool ours = n.folders.count(cand) > 0;
        if (!ours && (n.used.count(cand) || n.reserved.count(cand))) continue;
        if (!ours && ::mkdirat(parent.fd(), cand.c_str(), 0755) != 0 && errno != EEXIST) {
            error_ = errnoText("cannot make a folder");
            return {};
        }
        // O_NOFOLLOW: a link of the name is never entered.
        const int fd = ::openat(parent.fd(), cand.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) continue;
        n.used.insert(cand);
        n.folders.insert(cand);
        return OutputDir(fd, parent.path() / cand);
    }
    return {};
}

std::unique_ptr<OutputFile> OutputFolder::createFrom(const OutputDir& dir, const std::string& name,
                                                     std::uint64_t limit, int firstNumber) {
    if (!dir.valid()) {
        error_ = "no output folder";
        return nullptr;
    }
    Names& n = namesOf(dir);
    int& next = n.next[name];
    // Each base name remembers where its numbering stands: thousands of
    // entries of one name cost one try each, not a walk from 1.
    for (int k = std::max(next, firstNumber); k <= kMaxNumbering; ++k) {
        const std::string cand = k == 1 ? name : fitHostName(numberedName(name, k));
        if (n.used.count(cand) || n.reserved.count(cand)) continue;
        struct stat st {};
        if (::fstatat(dir.fd(), cand.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
            // A plain file from an earlier save is replaced; a link, folder
            // or anything else keeps its name.
            if (!S_ISREG(st.st_mode)) continue;
            ::unlinkat(dir.fd(), cand.c_str(), 0);
        }
        const int fd = ::openat(dir.fd(), cand.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            error_ = errnoText("cannot create the file");
            return nullptr;
        }
        const int dirFd = ::fcntl(dir.fd(), F_DUPFD_CLOEXEC, 0);
        if (dirFd < 0) {
            error_ = errnoText("cannot create the file");
            ::close(fd);
            ::unlinkat(dir.fd(), cand.c_str(), 0);
            return nullptr;
        }
        n.used.insert(cand);
        next = k + 1;
        return std::unique_ptr<OutputFile>(new OutputFile(dirFd, fd, cand, dir.path() / cand, limit));
    }
    error_ = "no free name";
    return nullptr;
}

std::unique_ptr<OutputFile> OutputFolder::create(const OutputDir& dir, const std::string& name, std::uint64_t limit) {
    return createFrom(dir, name, limit, 1);
}

std::unique_ptr<OutputFile> OutputFolder::createReserved(const OutputDir& dir, const std::string& name,
                                                         std::uint64_t limit) {
    if (dir.valid()) namesOf(dir).reserved.erase(name);
    return createFrom(dir, name, limit, 1);
}

std::optional<fs::path> OutputFolder::writeWhole(const OutputDir& dir, const std::string& name,
                                                 const std::string& text) {
    auto f = createReserved(dir, name);
    if (!f) return std::nullopt;
    f->write(text);
    if (!f->finish()) {
        error_ = f->error();
        return std::nullopt;
    }
    return f->path();
}

}  // namespace salvage
