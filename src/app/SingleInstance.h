#pragma once
// Makes sure only one wizard runs per user: a lock file in the user's
// runtime directory, held for the whole run.
#include <QLockFile>
#include <QString>

namespace salvage::app {

class SingleInstance {
public:
    explicit SingleInstance(const QString& lockPath = defaultLockPath());
    // True when this process now holds the lock; false when another running
    // instance holds it. A lock left by a process that no longer runs is
    // taken over; a live one never is, however old.
    bool acquire();

    static QString defaultLockPath();

private:
    QLockFile lock_;
};

}  // namespace salvage::app
