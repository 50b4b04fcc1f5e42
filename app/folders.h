#pragma once

#include "command_line.h"

#include <optional>

namespace tirvel {

// Makes and checks the folders the command line's run writes into, before anything is built: the
// frame folder, when the camera's pictures are written (the runtime folder's tirvel by default,
// made 0700, because writing five frames a second must not wear a disk), and the event folder
// when watching from the start. A folder written to must be the user's own and writable by nobody
// else. What is wrong, as one line for standard error, or nothing.
std::optional<QString> prepareFolders(CommandLine &options);

} // namespace tirvel
