// The request the product exists for, end to end on an NTFS volume made by
// mkntfs and ntfs-3g: parse on the worker, open the folder of a deleted
// file, save it, search for it, and save the whole volume against the
// fixture's manifest (size, MD5 and modification time of every file).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <map>
#include <sstream>

#include "TestPaths.h"
#include "browse/FolderOpen.h"
#include "browse/FolderSave.h"
#include "browse/ScanController.h"
#include "image/ImageOpen.h"
#include "platform/Text.h"

using namespace salvage;
namespace fs = std::filesystem;

namespace {
struct ManifestEntry {
    std::uint64_t size;
    std::string md5;
    std::int64_t mtime;
    bool deleted;
};

std::map<std::u16string, ManifestEntry> readManifest(const fs::path& p) {
    std::map<std::u16string, ManifestEntry> m;
    std::ifstream f(p);
    std::string line;
    while (std::getline(f, line)) {
        std::stringstream ss(line);
        std::string path, size, md5, mtime, state;
        std::getline(ss, path, '\t');
        std::getline(ss, size, '\t');
        std::getline(ss, md5, '\t');
        std::getline(ss, mtime, '\t');
        std::getline(ss, state, '\t');
        for (char& c : path)
            if (c == '/') c = '\\';
        m[u"ROOT\\" + fromUtf8(path)] = {std::stoull(size), md5, std::stoll(mtime), state == "deleted"};
    }
    return m;
}

std::int64_t mtimeOf(const fs::path& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 ? std::int64_t(st.st_mtim.tv_sec) : -1;
}

TreeItem childNamed(const BrowseTree& t, TreeItem parent, const std::u16string& name) {
    for (TreeItem c : t.children(parent))
        if (t.text(c) == name) return c;
    return kNoItem;
}
}  // namespace

TEST(BrowseNtfs, DeletedFileFromParseToSaveAndSearch) {
    fs::path img, manifestPath;
    if (!test::requireFixture("ntfs.img", img) || !test::requireFixture("ntfs_manifest.tsv", manifestPath)) return;
    const auto manifest = readManifest(manifestPath);
    ASSERT_GT(manifest.size(), 10u);

    RecordingReporter rep;
    BrowseTree tree;
    FileList list;
    ScanController c{rep, tree, list};
    OpenedImage opened = openImage(img, rep);
    ASSERT_NE(opened.source, nullptr);
    ASSERT_EQ(c.startParse(VolumeRecord{u"NTFS", u"1", u"64   MB", 0}, RecoveryMode::Standard, opened.source.get()),
              StartOutcome::Started);
    c.wait();
    ASSERT_EQ(c.lastParseResult(), ParseResult::Done);
    EXPECT_EQ(rep.statuses().front(), u"ntfs partition selected....");
    EXPECT_TRUE(rep.sawMessage(u"Scanning processing done.Select save button to save the data."));
    VolumeParser& p = *c.parser();

    // A label click on docs: its deleted file is red and listed.
    TreeItem docs = childNamed(tree, tree.root(), u"docs");
    ASSERT_NE(docs, kNoItem);
    ASSERT_EQ(tree.text(tree.firstChild(docs)), kPlaceholderText);
    ASSERT_TRUE(openFolder(tree, p, docs, true));
    list.fillFromFolder(tree, p, docs, false);
    TreeItem gone = childNamed(tree, docs, u"deleted.bin");
    ASSERT_NE(gone, kNoItem);
    EXPECT_TRUE(tree.isRed(gone));
    EXPECT_FALSE(tree.isRed(childNamed(tree, docs, u"small.txt")));
    bool listed = false;
    for (const auto& r : list.rows()) listed |= r.name == u"deleted.bin";
    EXPECT_TRUE(listed);
    EXPECT_EQ(childNamed(tree, docs, u"deep") != kNoItem, true);

    // The double click's save of the deleted file.
    const ManifestEntry& want = manifest.at(u"ROOT\\docs\\deleted.bin");
    ASSERT_TRUE(want.deleted);
    FolderSave single(p, rep);
    fs::path one = test::scratchDir("browse_ntfs_single");
    ASSERT_TRUE(single.saveSingle(*tree.itemData(gone), one, u"ROOT\\docs\\deleted.bin"));
    ASSERT_EQ(single.saved().size(), 1u);
    EXPECT_TRUE(single.saved()[0].deleted);
    EXPECT_EQ(single.saved()[0].md5, want.md5);
    EXPECT_EQ(single.saved()[0].bytes, want.size);
    EXPECT_EQ(mtimeOf(one / "deleted.bin"), want.mtime);

    // Search: the deleted file by name, and (on NTFS) folders too.
    ASSERT_EQ(c.startSearch(u"deleted\\.bin$"), StartOutcome::Started);
    c.wait();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list.row(0)->name, u"ROOT\\docs\\deleted.bin");
    ASSERT_EQ(c.startSearch(u"^deeper$"), StartOutcome::Started);
    c.wait();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list.row(0)->name, u"ROOT\\docs\\deep\\deeper");

    // The whole volume, deleted entries included.
    FolderSave all(p, rep);
    std::vector<RecordId> top;
    for (TreeItem t : tree.children(tree.root()))
        if (auto id = validRecord(tree, p, t)) top.push_back(*id);
    fs::path out = test::scratchDir("browse_ntfs_all");
    ASSERT_TRUE(all.saveRecords(top, out, u"ROOT"));
    std::map<std::u16string, SavedFile> saved;
    for (const auto& s : all.saved()) saved.emplace(s.volumePath, s);
    for (const auto& [path, m] : manifest) {
        auto it = saved.find(path);
        ASSERT_NE(it, saved.end()) << toUtf8(path);
        EXPECT_EQ(it->second.md5, m.md5) << toUtf8(path);
        EXPECT_EQ(it->second.deleted, m.deleted) << toUtf8(path);
        EXPECT_EQ(mtimeOf(it->second.written), m.mtime) << toUtf8(path);
    }
}
