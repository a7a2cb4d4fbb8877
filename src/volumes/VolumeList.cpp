#include "volumes/VolumeList.h"

#include <string>

#include "platform/AppTitle.h"
#include "platform/Text.h"

namespace salvage {

// A row keeps the texts it was shown with; its record is the array entry
// (standard scan) or its own copy (advanced scan). Indices, not pointers,
// so growing the array never invalidates a row.
struct VolumeList::Row {
    VolumeRowText text;
    std::size_t recordIndex = 0;
    std::unique_ptr<VolumeRecord> copy;
    // What the scan gave besides the texts, restored with them.
    std::int64_t sectors = -1;
    ImageFit fit = ImageFit::Inside;
};

namespace {

std::u16string decimal(std::int64_t value) { return fromUtf8(std::to_string(value)); }

VolumeRowText textOf(const VolumeRecord& r) {
    // The size column says when the image does not hold the volume (whole).
    std::u16string size = r.sizeText;
    if (r.fit == ImageFit::Outside) size += kPastImageEndMark;
    else if (r.fit == ImageFit::RunsPast) size += kRunsPastImageEndMark;
    return {r.name, r.fileSystem, size, format16("%lld", (long long)r.startSector)};
}

bool startsWithIgnoreCase(std::u16string_view text, std::u16string_view prefix) {
    return text.size() >= prefix.size() && equalsIgnoreAsciiCase(text.substr(0, prefix.size()), prefix);
}

// "VOLUME_SIZE" with the image-end mark and every "MB" removed and blanks
// trimmed at both ends.
std::u16string sizeFromRowText(std::u16string text) {
    for (std::u16string_view mark : {kPastImageEndMark, kRunsPastImageEndMark})
        if (const std::size_t at = text.find(mark); at != std::u16string::npos) text.erase(at, mark.size());
    for (std::size_t at; (at = text.find(u"MB")) != std::u16string::npos;) text.erase(at, 2);
    const std::size_t first = text.find_first_not_of(u' ');
    if (first == std::u16string::npos) return u"";
    const std::size_t last = text.find_last_not_of(u' ');
    return text.substr(first, last - first + 1);
}

}  // namespace

std::int64_t numberBoxValue(std::u16string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        const int digit = text[i] - u'0';
        // Saturate instead of overflowing on an absurdly long number.
        if (value > (INT64_MAX - digit) / 10) return negative ? INT64_MIN : INT64_MAX;
        value = value * 10 + digit;
    }
    return negative ? -value : value;
}

void applyCustomSettings(VolumeRecord& record, std::int64_t start, std::int64_t end,
                         std::optional<std::size_t> treatAs, bool* raw) {
    if (raw) *raw = false;
    record.startSector = start;
    // end > start: the span is positive; saturate where it would overflow.
    std::int64_t span = 0;
    if (end > start && __builtin_sub_overflow(end, start, &span)) span = INT64_MAX - 1;
    record.sizeText = end > start ? format16("%lld", (long long)((span + 1) / 2048)) : std::u16string(u"0");
    record.sectors = end > start ? span + 1 : -1;
    record.fit = ImageFit::Inside;
    if (treatAs && *treatAs < kTreatAsChoices.size()) {
        static constexpr std::u16string_view kNames[] = {u"extX",  u"fat12", u"fat16", u"fat32",
                                                         u"fat64", u"HFS+",  u"ntfs",  u"RAW"};
        static_assert(std::size(kNames) == kTreatAsChoices.size());
        record.fileSystem = std::u16string(kNames[*treatAs]);
        if (raw) *raw = kTreatAsChoices[*treatAs] == u"RAW";
    }
}

std::optional<std::size_t> treatAsIndex(std::u16string_view name) {
    for (std::size_t i = 0; i < kTreatAsChoices.size(); ++i)
        if (equalsIgnoreAsciiCase(kTreatAsChoices[i], name)) return i;
    return std::nullopt;
}

VolumeList::VolumeList(ScanMode mode, Reporter& reporter) : mode_(mode), reporter_(&reporter) {}
VolumeList::~VolumeList() = default;

VolumeRecord& VolumeList::recordOf(Row& row) { return row.copy ? *row.copy : records_[row.recordIndex]; }

void VolumeList::addRow(std::size_t recordIndex, bool atTop) {
    auto row = std::make_unique<Row>();
    row->text = textOf(records_[recordIndex]);
    row->recordIndex = recordIndex;
    row->sectors = records_[recordIndex].sectors;
    row->fit = records_[recordIndex].fit;
    if (mode_ == ScanMode::Advanced) row->copy = std::make_unique<VolumeRecord>(records_[recordIndex]);
    if (atTop) {
        rows_.insert(rows_.begin(), std::move(row));
        if (selected_) ++*selected_;
    } else {
        rows_.push_back(std::move(row));
    }
}

void VolumeList::clearRows() {
    rows_.clear();
    selected_.reset();
}

void VolumeList::showStandardResults() {
    clearRows();
    for (std::size_t i = 0; i < records_.size(); ++i) {
        records_[i].name = decimal(std::int64_t(i));
        addRow(i, false);
    }
}

void VolumeList::addScannedRecord(const VolumeRecord& record) {
    records_.push_back(record);
    addRow(records_.size() - 1, true);
}

std::size_t VolumeList::rowCount() const { return rows_.size(); }
const VolumeRowText& VolumeList::rowText(std::size_t row) const { return rows_.at(row)->text; }
const VolumeRecord& VolumeList::rowRecord(std::size_t row) const {
    const Row& r = *rows_.at(row);
    return r.copy ? *r.copy : records_.at(r.recordIndex);
}

void VolumeList::selectRow(std::size_t row) {
    if (row >= rows_.size()) return;
    selected_ = row;
    const VolumeRowText& t = rows_[row]->text;
    selectedVolumeText = t.volume;
    startText = t.startSector;
    const std::int64_t start = numberBoxValue(t.startSector);
    const std::int64_t megabytes = sizeTextMegabytes(t.volumeSize);
    std::int64_t end = 0;
    if (megabytes != 0 && (__builtin_mul_overflow(megabytes, 2048, &end) || __builtin_add_overflow(end, start - 1, &end)))
        end = INT64_MAX;
    endText = format16("%lld", (long long)end);
}

void VolumeList::clickRow(std::size_t row) {
    if (row >= rows_.size()) return;
    const std::u16string& fileSystem = rows_[row]->text.fileSystem;
    if (fileSystem.empty()) return;
    for (std::size_t i = 0; i < kTreatAsChoices.size(); ++i) {
        if (startsWithIgnoreCase(kTreatAsChoices[i], fileSystem)) {
            treatAs = i;
            return;
        }
    }
}

void VolumeList::addCustomVolume() {
    VolumeRecord record;
    record.fileSystem = u"CUSTOM ";
    record.name = decimal(std::int64_t(records_.size()));
    record.sizeText = u"0";
    record.startSector = 0;
    records_.push_back(record);
    const bool atTop = mode_ == ScanMode::Advanced;
    addRow(records_.size() - 1, atTop);
    selected_ = atTop ? 0 : rows_.size() - 1;
    selectedVolumeText = record.name;
    customSettings = true;
    startText = u"0";
    endText = u"0";
}

void VolumeList::filterEntries() {
    clearRows();
    if (records_.size() <= 1) return;
    for (std::size_t i = 1; i < records_.size(); ++i) {
        std::int64_t following;
        if (__builtin_add_overflow(records_[i - 1].startSector, 1, &following)) continue;
        if (records_[i].startSector != following) continue;
        records_[i].name = decimal(std::int64_t(i));
        addRow(i, true);
    }
}

ProceedResult VolumeList::proceed() {
    ProceedResult result;
    if (!selected_ || *selected_ >= rows_.size()) {
        reporter_->message(u"please select a valid volume.", kAppTitle, MessageIcon::Information);
        return result;
    }
    Row& row = *rows_[*selected_];
    VolumeRecord& record = recordOf(row);
    if (!customSettings && customApplied_) {
        record.name = row.text.volume;
        record.fileSystem = row.text.fileSystem;
        record.sizeText = sizeFromRowText(row.text.volumeSize);
        record.startSector = numberBoxValue(row.text.startSector);
        record.sectors = row.sectors;
        record.fit = row.fit;
    }
    bool raw = false;
    if (customSettings) {
        customApplied_ = true;
        applyCustomSettings(record, numberBoxValue(startText), numberBoxValue(endText), treatAs, &raw);
    }
    result.record = record;
    if (raw) {
        result.route = ProceedRoute::RawRecovery;
        return result;
    }
    if (record.fit == ImageFit::Outside) {
        reporter_->message(u"The selected volume lies past the end of the image: the image does not hold it.",
                           kAppTitle, MessageIcon::Information);
        return result;
    }
    if (equalsIgnoreAsciiCase(record.fileSystem, u"unknown")) {
        reporter_->message(u"can not parse unknown volume", u"", MessageIcon::Information);
        return result;
    }
    result.route = ProceedRoute::RecoveryMode;
    return result;
}

std::u16string VolumeList::stepped(std::u16string_view boxText, int direction) {
    std::int64_t value = numberBoxValue(boxText);
    if (direction > 0 && value < INT64_MAX) ++value;
    if (direction < 0) value = value > 0 ? value - 1 : 0;
    return format16("%lld", (long long)value);
}

}  // namespace salvage
