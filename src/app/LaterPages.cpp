#include "app/LaterPages.h"

#include "app/AppInfo.h"
#include "app/DialogService.h"
#include "app/RawRecoveryDialog.h"
#include "app/VolumeScanDlg.h"
#include "app/WizardPage.h"
#include "app/advanceOptions.h"

namespace salvage::app {

namespace {
// Opens a page as `from`'s next page: reaches the page's own openNext.
struct NextPageOpener : WizardPage {
    template <class Page, class... Args>
    static Page* open(WizardPage& from, Args&&... args) {
        auto opener = &NextPageOpener::openNext<Page, Args...>;
        return (from.*opener)(std::forward<Args>(args)...);
    }
};
}  // namespace

bool openParsingPage(WizardPage& from, const VolumeRecord& record, int recoveryMode,
                     const QString& maxFileSystemsText) {
    if (recoveryMode == 2) {
        if (NextPageOpener::open<advanceOptions>(from, record, maxFileSystemsText)) return true;
        dialogs().message(&from, QStringLiteral("error creating advanceOptions"), appTitle(), BoxIcon::Information);
        return false;
    }
    const RecoveryMode mode = recoveryMode == 3 ? RecoveryMode::Deep : RecoveryMode::Standard;
    if (NextPageOpener::open<VolumeScanDlg>(from, record, mode)) return true;
    dialogs().message(&from, QStringLiteral("error creating VolumeScanDlg"), appTitle(), BoxIcon::Information);
    return false;
}

bool openRawRecoveryPage(WizardPage& from, const VolumeRecord& record) {
    if (RawRecoveryDialog::openFrom(from, record)) return true;
    dialogs().message(&from, QStringLiteral("error creating RawRecoveryDialog"), appTitle(), BoxIcon::Information);
    return false;
}

}  // namespace salvage::app
