#pragma once

// Internal: the PulseAudio input engine and output stream.

#include <memory>

#include "platform/audio/AudioInputEngine.h"
#include "platform/audio/AudioOutputStream.h"

namespace platform::pulse {

class Core;

std::unique_ptr<AudioInputEngine> makeInputEngine(std::shared_ptr<Core> core);
Result<std::unique_ptr<AudioOutputStream>> openOutputStream(std::shared_ptr<Core> core, AudioOutputOptions options);

}  // namespace platform::pulse
