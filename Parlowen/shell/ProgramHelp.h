#pragma once

// What `Parlowen --help` prints: what the program is, its gestures'
// defaults, where its settings, data and log live, how to stop it, and its
// options.

#include <span>
#include <string>

#include "Parlowen/model/Gesture.h"
#include "platform/runtime/CommandLine.h"
#include "platform/values/XdgDirs.h"

namespace parlowen {

// Qt's own options, which the program hands on to Qt.
std::span<const platform::PassThroughOption> qtCommandLineOptions();

// A combination as keys are named on a Linux keyboard: "Super+Ctrl+Alt+Shift+S".
std::string linuxKeyNames(const KeyCombo& combo);

std::string programHelpText(const platform::XdgDirs& dirs);

}  // namespace parlowen
