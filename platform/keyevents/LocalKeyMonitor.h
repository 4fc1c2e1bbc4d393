#pragma once

// A local key monitor: while it exists, the key-down and flags-changed
// events sent to the application's own window reach its handler (on the
// main thread, in the stored key codes and flags of KeyEventSource.h) and
// go no further. Destroying it removes it. Qt-free; the Qt implementation
// is in QtLocalKeyMonitor.h.

#include <functional>
#include <memory>

#include "platform/keyevents/KeyEventSource.h"

namespace platform {

class LocalKeyMonitor {
public:
    virtual ~LocalKeyMonitor() = default;
};

using LocalKeyHandler = std::function<void(const KeyEvent&)>;
// Installs a monitor whose handler is `handler`; none when the platform
// offers no monitor.
using LocalKeyMonitorFactory = std::function<std::unique_ptr<LocalKeyMonitor>(LocalKeyHandler handler)>;

}  // namespace platform
