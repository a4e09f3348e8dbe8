#pragma once

#include <QString>

// QSettings guards each write of a file with "<file>.lock". A writer killed between creating
// that lock and writing its owner into it (a power cut during a save) leaves a lock nobody can
// prove stale, and every later save would block the GUI thread until the lock is old enough
// (half a minute). Only this program writes its own settings files, so at start such a lock is
// a leftover and can go. A lock held by a live owner is left alone.
void removeOwnerlessSettingsLock(const QString &fileName);
