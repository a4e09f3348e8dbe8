#include "settingslock.h"

#include <QFileInfo>
#include <QLockFile>

void removeOwnerlessSettingsLock(const QString &fileName)
{
    const QString lockName = fileName + QStringLiteral(".lock");
    if (!QFileInfo::exists(lockName))
        return;
    QLockFile lock(lockName);
    if (lock.tryLock(0))
        return; // it was free; unlocking on scope exit removes our own lock again
    qint64 pid = 0;
    QString host;
    QString app;
    if (lock.error() == QLockFile::LockFailedError && !lock.getLockInfo(&pid, &host, &app))
        lock.removeStaleLockFile();
}
