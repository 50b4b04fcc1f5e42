#pragma once

namespace tirvel {

// Gives the window's own widgets the roles a screen reader announces them by: the picture boxes
// and the live view are images, and the result label is an alert named by what it says. Call it
// before any of them is created; calling it again does nothing.
void installAccessibleRoles();

} // namespace tirvel
