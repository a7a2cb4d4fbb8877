#include "app/SingleInstance.h"

#include <QDir>
#include <QStandardPaths>

#include "app/AppInfo.h"

namespace salvage::app {

SingleInstance::SingleInstance(const QString& lockPath) : lock_(lockPath) {
    // Age alone never makes the lock stale: only a holder that is no longer
    // running does (QLockFile checks the holder's process id).
    lock_.setStaleLockTime(0);
}

bool SingleInstance::acquire() { return lock_.tryLock(0); }

QString SingleInstance::defaultLockPath() {
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty()) dir = QDir::tempPath();
    return dir + QLatin1Char('/') + QString::fromLatin1(kInstanceLockName);
}

}  // namespace salvage::app
