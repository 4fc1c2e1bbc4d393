#pragma once

// Xlib stays out of the other sources: its macros (Status, None, Bool) clash
// with ours.

#include <string>

namespace testsupport::detail {

// True when a window manager on `display` has announced itself the EWMH way:
// the root's _NET_SUPPORTING_WM_CHECK names a window that names itself. A
// stale root property left by a window manager that has gone does not count.
bool x11HasWindowManager(const std::string& display);

}  // namespace testsupport::detail
