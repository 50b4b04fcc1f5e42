#pragma once

#include <QString>

#include <optional>

namespace tirvel {

// Makes sure that only this user can put files into a folder that will hold pictures of their
// room: it must be a real folder (not a symbolic link), belong to this user, and be writable by
// nobody else, or another user could plant links in it or read and feed frames. With create, a
// missing folder is made, 0700 whatever the umask. Returns what is wrong, naming the folder as
// `what` (such as "frame folder").
std::optional<QString> claimPrivateFolder(const QString &what, const QString &path, bool create);

} // namespace tirvel
