#pragma once

// What /proc tells about another process.

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace platform {

// True while the process exists and has not ended (a zombie has ended).
bool processIsAlive(pid_t pid);
// The program file (/proc/<pid>/exe); none when it cannot be read.
std::optional<std::string> processExecutablePath(pid_t pid);
// The short process name (/proc/<pid>/comm).
std::string processName(pid_t pid);
// The files the process has mapped (/proc/<pid>/maps), each once, in order.
std::vector<std::string> processMappedFiles(pid_t pid);

// Whether a program is Chromium-class (Chromium and its branded browsers,
// Electron applications, programs that embed CEF), where accessibility
// writes are silently ignored: its file name is a known browser or Electron,
// it has mapped the CEF library, or its folder holds the V8 snapshot or
// Chromium resource packs that every such program ships beside itself.
bool isChromiumClassProgram(const std::string& executablePath, const std::vector<std::string>& mappedFiles);

}  // namespace platform
