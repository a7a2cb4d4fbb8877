#pragma once
// The information page's rows for an image: the EWF rows read through
// libewf, or for a raw image or block device what its size tells.
#include <QString>
#include <vector>

#include "image/EwfInfo.h"
#include "platform/Reporter.h"

namespace salvage::app {

struct ImageInformation {
    bool isEwf = false;
    EwfInfoRecord record;        // EWF images only
    std::vector<InfoRow> rows;   // empty after a failure
    QString mediaSizeText;       // value of the "MEDIA SIZE :" row, empty when none
};

// Reads `path`; failures have been reported through `reporter`.
ImageInformation readInformation(const QString& path, Reporter& reporter);

}  // namespace salvage::app
