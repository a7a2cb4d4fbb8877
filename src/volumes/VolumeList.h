#pragma once
// The volume list page's model: the scan's records, the rows of the
// four-column list ("VOLUME", "FILE_SYSTEM", "VOLUME_SIZE", "START_SECTOR"),
// the custom detail controls and "Treat file system as:", and where "Next"
// leads. Rows keep the texts they were shown with. After a standard scan a
// row refers to its entry in the record array; after an advanced scan every
// row holds its own copy of the record.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Reporter.h"
#include "volumes/VolumeRecord.h"

namespace salvage {

enum class ScanMode { Standard = 1, Advanced = 2 };

struct VolumeRowText {
    std::u16string volume, fileSystem, volumeSize, startSector;
};

// The "Treat file system as:" items, sorted.
inline constexpr std::array<std::u16string_view, 8> kTreatAsChoices = {u"EXTX", u"FAT12", u"FAT16", u"FAT32",
                                                                       u"FAT64", u"HFS+",  u"NTFS",  u"RAW"};

// Added to the size column of a volume the image does not hold whole.
inline constexpr std::u16string_view kPastImageEndMark = u"  (past the image's end)";
inline constexpr std::u16string_view kRunsPastImageEndMark = u"  (runs past the image's end)";

// Where "Next" leads.
enum class ProceedRoute {
    Stay,          // a message was shown; the page stays
    RawRecovery,   // "RAW": the raw recovery page
    RecoveryMode,  // the recovery-mode page, which takes a copy of the record
};

struct ProceedResult {
    ProceedRoute route = ProceedRoute::Stay;
    VolumeRecord record;  // the chosen record after the custom settings
};

// Signed 64-bit decimal as a number box reads it: leading blanks and a sign,
// digits up to the first other character; text that is not a number is 0.
std::int64_t numberBoxValue(std::u16string_view text);

// Custom settings applied to `record` as "Next" applies them: start from the
// start box, size text "%lld" of (end - start + 1) / 2048 when end > start
// (else "0", the rest of the image), and the file system of the "Treat file system as:" item, when
// one is chosen (by index into kTreatAsChoices). Sets `raw` for "RAW". The
// command line's --start/--end/--fs use it too.
void applyCustomSettings(VolumeRecord& record, std::int64_t start, std::int64_t end,
                         std::optional<std::size_t> treatAs, bool* raw = nullptr);
// The index of a "Treat file system as:" item named without regard to case
// ("ntfs", "HFS+", "extX", "raw"), if any.
std::optional<std::size_t> treatAsIndex(std::u16string_view name);

class VolumeList {
public:
    explicit VolumeList(ScanMode mode, Reporter& reporter = nullReporter());
    ~VolumeList();
    VolumeList(const VolumeList&) = delete;
    VolumeList& operator=(const VolumeList&) = delete;

    ScanMode mode() const { return mode_; }
    // The page's record array, in scan order. A standard scan fills it and
    // then calls showStandardResults().
    std::vector<VolumeRecord>& records() { return records_; }

    // Standard scan: names the records "0", "1", ... and shows them in
    // array order.
    void showStandardResults();
    // Advanced scan: the record was appended to records() by the scan; a
    // row with its own copy goes to the top.
    void addScannedRecord(const VolumeRecord& record);

    std::size_t rowCount() const;
    const VolumeRowText& rowText(std::size_t row) const;
    // The record behind a row (the array entry or the row's own copy).
    const VolumeRecord& rowRecord(std::size_t row) const;

    // The selected row; selectRow() fills the custom detail controls from
    // its texts.
    void selectRow(std::size_t row);
    std::optional<std::size_t> selectedRow() const { return selected_; }
    // Moves "Treat file system as:" to the first item beginning with the
    // row's file-system text (ignoring case); no match leaves it.
    void clickRow(std::size_t row);
    void addCustomVolume();
    void filterEntries();
    // "Next".
    ProceedResult proceed();

    // The custom detail controls, as the page shows and edits them.
    bool customSettings = false;  // "Custom Settings For Selected Volume"
    std::u16string selectedVolumeText;  // "Selected Volume :"
    std::u16string startText;           // "Start Sector:"
    std::u16string endText;             // "End Sector :"
    std::optional<std::size_t> treatAs;  // index into kTreatAsChoices
    // The spin arrows: +1, or -1 but never below 0.
    static std::u16string stepped(std::u16string_view boxText, int direction);

private:
    struct Row;
    VolumeRecord& recordOf(Row& row);
    void addRow(std::size_t recordIndex, bool atTop);
    void clearRows();

    ScanMode mode_;
    Reporter* reporter_;
    std::vector<VolumeRecord> records_;
    std::vector<std::unique_ptr<Row>> rows_;
    std::optional<std::size_t> selected_;
    bool customApplied_ = false;
};

}  // namespace salvage
