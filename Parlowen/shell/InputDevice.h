#pragma once

#include <string>

#include "platform/audio/AudioHardware.h"

namespace parlowen {

// One input device of the audio device catalogue, as the shell sees it.
struct InputDevice {
    std::string uid;
    std::string name;
    platform::AudioTransport transport = platform::AudioTransport::other;
};

}  // namespace parlowen
