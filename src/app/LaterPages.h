#pragma once
// Where the wizard goes after the recovery-mode page and for a volume
// treated as "RAW": the one place that opens the volume page, the
// advanced-input page and the raw recovery page.
#include <QString>

#include "volumes/VolumeRecord.h"

namespace salvage::app {

class WizardPage;

// The volume page (Standard and Deep) or the advanced-input page (Advanced)
// for `record`; `maxFileSystemsText` is the "Please Enter Max File Systems
// to Find :" text. True when a page was opened.
bool openParsingPage(WizardPage& from, const VolumeRecord& record, int recoveryMode,
                     const QString& maxFileSystemsText);
// The raw recovery page for `record`. True when a page was opened.
bool openRawRecoveryPage(WizardPage& from, const VolumeRecord& record);

}  // namespace salvage::app
