#pragma once

namespace parlowen {

// Registers drawn stand-ins for the now-playing panel's symbols (play, pause,
// skip back 15 and forward 30, tortoise, hare, close) with the shared icon
// registry, once per process. They are drawn in black; views tint them.
void ensureNowPlayingSymbols();

}  // namespace parlowen
