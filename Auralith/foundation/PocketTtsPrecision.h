#pragma once

namespace auralith {

// Which variant of PocketTTS's flow language-model step is loaded and downloaded.
enum class PocketTtsPrecision { fp16, int8 };

}  // namespace auralith
