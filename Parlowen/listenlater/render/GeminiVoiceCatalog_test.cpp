#include <gtest/gtest.h>

#include "Parlowen/listenlater/render/GeminiVoiceCatalog.h"

namespace parlowen {
namespace {

TEST(GeminiVoiceCatalog, ListsTheEightVoicesWithHostDefaultsFirst) {
    std::vector<std::string_view> ids;
    for (const auto& v : GeminiVoiceCatalog::voices) ids.push_back(v.id);
    EXPECT_EQ(ids, (std::vector<std::string_view>{"Puck", "Charon", "Kore", "Fenrir", "Aoede", "Enceladus", "Zephyr",
                                                  "Leda"}));
    EXPECT_EQ(GeminiVoiceCatalog::voice("Charon"),
              (GeminiVoiceCatalog::Voice{"Charon", "Charon", "Informative"}));
    EXPECT_FALSE(GeminiVoiceCatalog::voice("charon"));
}

TEST(GeminiVoiceCatalog, LabelsListedVoicesAndLeavesOtherNamesAsTheyAre) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"Puck", "Puck \u2014 Upbeat"}, {"Enceladus", "Enceladus \u2014 Breathy"}, {"Leda", "Leda \u2014 Youthful"},
        {"puck", "puck"},               {"", ""},                                   {"Orus", "Orus"},
    };
    for (const auto& [id, label] : cases) EXPECT_EQ(GeminiVoiceCatalog::label(id), label) << id;
}

}  // namespace
}  // namespace parlowen
