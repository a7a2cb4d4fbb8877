#include "app/ImageSession.h"

#include "app/QtReporter.h"
#include "image/EwfReader.h"
#include "image/ImageOpen.h"

namespace salvage::app {

namespace {
std::unique_ptr<readWriteInterface>& ownedSource() {
    static std::unique_ptr<readWriteInterface> source;
    return source;
}
std::unique_ptr<QtReporter>& ownedReporter() {
    static std::unique_ptr<QtReporter> reporter;
    return reporter;
}
}  // namespace

QtReporter& sourceReporter() {
    auto& reporter = ownedReporter();
    if (!reporter) reporter = std::make_unique<QtReporter>();
    return *reporter;
}

std::filesystem::path& installedPath() {
    static std::filesystem::path path;
    return path;
}

const std::filesystem::path& sourcePath() { return installedPath(); }

readWriteInterface& installSectorSource(const std::filesystem::path& path, const EwfInfoRecord* info) {
    installedPath() = path;
    std::unique_ptr<readWriteInterface> source;
    ImageKind kind;
    if (looksLikeEwf(path)) {
        source = std::make_unique<FileReadSeekEWf>(sourceReporter(), info);
        kind = ImageKind::Ewf;
    } else {
        source = std::make_unique<FileReadSeek>(sourceReporter());
        kind = ImageKind::Raw;
    }
    // The old source goes only once nothing points at it any more.
    g_sectorSource = source.get();
    g_imageKind = kind;
    ownedSource() = std::move(source);
    return *g_sectorSource;
}

void releaseSectorSource() {
    g_sectorSource = nullptr;
    g_imageKind = ImageKind::None;
    installedPath().clear();
    ownedSource().reset();
    ownedReporter().reset();
}

}  // namespace salvage::app
