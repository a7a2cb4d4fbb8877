#pragma once
// Where the tests find their images: fixtures made by tests/fixtures/ in the
// build tree, and the shared real-world images next to the checkout.
#include <filesystem>
#include <string>

namespace salvage::test {

std::filesystem::path fixturePath(const std::string& name);
// The fixture, or a GTest skip/failure when it was not built. In CI (CI set)
// a missing fixture fails; elsewhere it skips loudly.
bool requireFixture(const std::string& name, std::filesystem::path& out);

std::filesystem::path testdataDir();
// Unpacks (once) a file of the shared test data into the build tree and
// returns the unpacked path: NAME.zip members, NAME.gz contents, or the file
// itself. Empty when the shared data is absent.
std::filesystem::path testdataFile(const std::string& name, const std::string& member = "");
bool requireTestdata(const std::string& name, const std::string& member, std::filesystem::path& out);

// A fresh empty folder under the build tree for one test's output.
std::filesystem::path scratchDir(const std::string& name);

// While it lives, no file this process writes may grow past `bytes` (the
// kernel fails the write, as on a full disk); the signal the kernel would
// send for it is ignored.
class FileSizeLimit {
public:
    explicit FileSizeLimit(unsigned long long bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    unsigned long long soft_, hard_;
    void (*signal_)(int);
};

std::string md5File(const std::filesystem::path& p);
std::string sha256File(const std::filesystem::path& p);

}  // namespace salvage::test
