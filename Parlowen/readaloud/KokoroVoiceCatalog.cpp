#include "Parlowen/readaloud/KokoroVoiceCatalog.h"

namespace parlowen {

const std::array<KokoroVoiceCatalog::Voice, 28>& KokoroVoiceCatalog::voices() {
    using G = Gender;
    using A = Accent;
    static const std::array<Voice, 28> all{{
        {"af_heart", "Heart (Recommended)", G::female, A::american},
        {"af_alloy", "Alloy", G::female, A::american},
        {"af_aoede", "Aoede", G::female, A::american},
        {"af_bella", "Bella", G::female, A::american},
        {"af_jessica", "Jessica", G::female, A::american},
        {"af_kore", "Kore", G::female, A::american},
        {"af_nicole", "Nicole", G::female, A::american},
        {"af_nova", "Nova", G::female, A::american},
        {"af_river", "River", G::female, A::american},
        {"af_sarah", "Sarah", G::female, A::american},
        {"af_sky", "Sky", G::female, A::american},
        {"am_adam", "Adam", G::male, A::american},
        {"am_echo", "Echo", G::male, A::american},
        {"am_eric", "Eric", G::male, A::american},
        {"am_fenrir", "Fenrir", G::male, A::american},
        {"am_liam", "Liam", G::male, A::american},
        {"am_michael", "Michael", G::male, A::american},
        {"am_onyx", "Onyx", G::male, A::american},
        {"am_puck", "Puck", G::male, A::american},
        {"am_santa", "Santa", G::male, A::american},
        {"bf_alice", "Alice", G::female, A::british},
        {"bf_emma", "Emma", G::female, A::british},
        {"bf_isabella", "Isabella", G::female, A::british},
        {"bf_lily", "Lily", G::female, A::british},
        {"bm_daniel", "Daniel", G::male, A::british},
        {"bm_fable", "Fable", G::male, A::british},
        {"bm_george", "George", G::male, A::british},
        {"bm_lewis", "Lewis", G::male, A::british},
    }};
    return all;
}

std::optional<KokoroVoiceCatalog::Voice> KokoroVoiceCatalog::voice(std::string_view id) {
    for (const auto& v : voices())
        if (v.id == id) return v;
    return std::nullopt;
}

}  // namespace parlowen
