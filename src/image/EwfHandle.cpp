#include "image/EwfHandle.h"

namespace salvage {

bool globSegmentSet(const std::string& first, std::vector<std::string>& names, EwfError& error) {
    names.clear();
    char** found = nullptr;
    int count = 0;
    if (libewf_glob(first.c_str(), first.size(), LIBEWF_FORMAT_UNKNOWN, &found, &count, error.out()) != 1)
        return false;
    for (int i = 0; i < count; ++i) names.emplace_back(found[i]);
    return libewf_glob_free(found, count, error.out()) == 1;
}

bool EwfHandle::create(EwfError& error) {
    release();
    return libewf_handle_initialize(&handle_, error.out()) == 1;
}

void EwfHandle::release() {
    if (!handle_) return;
    EwfError ignored;
    if (open_) libewf_handle_close(handle_, ignored.out());
    ignored.reset();
    libewf_handle_free(&handle_, ignored.out());
    handle_ = nullptr;
    open_ = false;
}

bool EwfHandle::openSegments(const std::vector<std::string>& files, EwfError& error) {
    if (!handle_ || files.empty()) return false;
    if (files.size() == 1) {
        char** names = nullptr;
        int count = 0;
        if (libewf_glob(files[0].c_str(), files[0].size(), LIBEWF_FORMAT_UNKNOWN, &names, &count, error.out()) != 1)
            return false;
        open_ = libewf_handle_open(handle_, names, count, LIBEWF_OPEN_READ, error.out()) == 1;
        bool freed = libewf_glob_free(names, count, error.out()) == 1;
        return open_ && freed;
    }
    std::vector<char*> names;
    names.reserve(files.size());
    for (const auto& f : files) names.push_back(const_cast<char*>(f.c_str()));
    open_ = libewf_handle_open(handle_, names.data(), int(names.size()), LIBEWF_OPEN_READ, error.out()) == 1;
    return open_;
}

}  // namespace salvage
