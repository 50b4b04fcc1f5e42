#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

#include <functional>

namespace tirvel {

// Durable: on the disk itself, the rename included, before it returns.
enum class Durable { No, Yes };

// Puts bytes into the file `name` of the folder open at the descriptor `folder` in one step, so a
// reader never sees half a file: they are written beside it under a name nobody can guess,
// exclusively and 0600 whatever the umask, and renamed over whatever stands there, which replaces
// a link another user planted rather than writing through it. Nothing is left behind when it
// fails. Empty, or the system's reason; inode, when given, is the new file's.
QString storeWholeAt(int folder, const QString &name, const QByteArray &bytes, Durable durable,
    ino_t *inode = nullptr);
// The same for a path, whose folder is opened for the call.
QString storeWhole(const QString &path, const QByteArray &bytes, Durable durable = Durable::No);

// Removes what a write cut off by a crash left in the folder open at `folder`: files named as
// storeWholeAt names its temporary ones, for a target that `ours` says is one of Tirvel's, regular
// and the user's own. Only while nothing else writes there.
void removeLeftovers(int folder, const std::function<bool(const QByteArray &target)> &ours);

} // namespace tirvel
