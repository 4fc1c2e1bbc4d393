#include "platform/ui/Animations.h"

#include <atomic>

namespace platform::ui {
namespace {
std::atomic<bool> g_enabled{true};
}

void setAnimationsEnabled(bool enabled) { g_enabled = enabled; }
bool animationsEnabled() { return g_enabled; }

AnimationsOff::AnimationsOff() : previous_(g_enabled.exchange(false)) {}
AnimationsOff::~AnimationsOff() { g_enabled = previous_; }

}  // namespace platform::ui
