#pragma once
// Owning wrappers for libewf's handle and error objects, and the one way the
// image readers open a segment set.
#include <libewf.h>

#include <cstdint>
#include <string>
#include <vector>

namespace salvage {

// The largest chunk an EWF image can sensibly hold: 32,768 sectors of 4 KiB.
// libewf allocates a whole chunk for every chunk it reads, so a header that
// claims gigabyte chunks would cost gigabytes per read; such a set is refused.
inline constexpr std::uint32_t kMaxEwfChunkBytes = 32768u * 4096u;

class EwfError {
public:
    EwfError() = default;
    ~EwfError() { reset(); }
    EwfError(const EwfError&) = delete;
    EwfError& operator=(const EwfError&) = delete;
    libewf_error_t** out() { return &error_; }
    void reset() {
        if (error_) libewf_error_free(&error_);
        error_ = nullptr;
    }
    bool isSet() const { return error_ != nullptr; }

private:
    libewf_error_t* error_ = nullptr;
};

// The segment files of the set `first` belongs to, as libewf finds them
// from its name (first to last); false when the search fails.
bool globSegmentSet(const std::string& first, std::vector<std::string>& names, EwfError& error);

class EwfHandle {
public:
    EwfHandle() = default;
    ~EwfHandle() { release(); }
    EwfHandle(const EwfHandle&) = delete;
    EwfHandle& operator=(const EwfHandle&) = delete;

    // A fresh handle; one left from before is closed and released first.
    bool create(EwfError& error);
    // Opens `files` read-only. One file stands for its whole segment set,
    // which libewf's glob finds from the name; several are used as given.
    bool openSegments(const std::vector<std::string>& files, EwfError& error);
    void release();
    libewf_handle_t* get() const { return handle_; }
    bool isOpen() const { return open_; }

private:
    libewf_handle_t* handle_ = nullptr;
    bool open_ = false;
};

}  // namespace salvage
