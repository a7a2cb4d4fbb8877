#pragma once
// The information page: the image's acquisition and media values, and the
// two ways on, "Convert to Raw" (the export page) and "Parse as Disk" (the
// scan-mode page, after installing the run's sector source).
#include <QString>

#include "app/InfoRows.h"
#include "app/WizardPage.h"

namespace salvage::app {

class InfoList;
class QtReporter;

class EwfFileInfo : public WizardPage {
    Q_OBJECT
public:
    // Reads the image's information at once.
    EwfFileInfo(WizardWindow* wizard, WizardPage* owner, const QString& imagePath);

    const QString& imagePath() const { return imagePath_; }
    const ImageInformation& information() const { return info_; }
    InfoList* list() const { return list_; }

private:
    void convertToRaw();
    void parseAsDisk();

    QString imagePath_;
    QtReporter* reporter_;
    ImageInformation info_;
    InfoList* list_;
};

}  // namespace salvage::app
