#include "app/LaterPages.h"

#include "app/AppInfo.h"
#include "app/DialogService.h"
#include "app/WizardPage.h"

namespace salvage::app {

bool openParsingPage(WizardPage& from, const VolumeRecord&, int recoveryMode, const QString&) {
    const QString page = recoveryMode == 2 ? QStringLiteral("The advanced-input page") : QStringLiteral("The volume page");
    dialogs().message(&from, page + QStringLiteral(" is not part of this build."), appTitle(), BoxIcon::Information);
    return false;
}

bool openRawRecoveryPage(WizardPage& from, const VolumeRecord&) {
    dialogs().message(&from, QStringLiteral("The raw recovery page is not part of this build."), appTitle(),
                      BoxIcon::Information);
    return false;
}

}  // namespace salvage::app
