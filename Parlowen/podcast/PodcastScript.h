#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Parlowen/model/RawEnum.h"
#include "platform/runtime/Error.h"
#include "platform/runtime/Task.h"
#include "platform/values/Json.h"

namespace parlowen {

// Which of the two podcast hosts speaks.
enum class PodcastHostRole { a, b };

template <>
struct EnumCases<PodcastHostRole> {
    static constexpr std::string_view typeName = "PodcastHostRole";
    static constexpr std::array cases{EnumCase{PodcastHostRole::a, "a"}, EnumCase{PodcastHostRole::b, "b"}};
};

struct PodcastHost {
    PodcastHostRole role = PodcastHostRole::a;
    std::string displayName;
    // The speaker label the model writes in front of each of this host's turns.
    std::string promptLabel;

    // Quon (the curious one, "QUON") and Nell (the explainer, "NELL"); the
    // labels are the names upper-cased when the pair is first used.
    static const std::pair<PodcastHost, PodcastHost>& defaultHosts();

    platform::Json toJson() const;
    static platform::Result<PodcastHost> fromJson(const platform::Json& json);
    friend bool operator==(const PodcastHost&, const PodcastHost&) = default;
};

struct PodcastTurn {
    PodcastHostRole role = PodcastHostRole::a;
    std::string text;

    platform::Json toJson() const;
    static platform::Result<PodcastTurn> fromJson(const platform::Json& json);
    friend bool operator==(const PodcastTurn&, const PodcastTurn&) = default;
};

// A whole script: the two hosts and their turns in speaking order. Handed to
// the podcast renderers in memory; the JSON form requires every key.
struct PodcastDialogue {
    PodcastHost hostA;
    PodcastHost hostB;
    std::vector<PodcastTurn> turns;

    const PodcastHost& host(PodcastHostRole role) const { return role == PodcastHostRole::a ? hostA : hostB; }

    platform::Json toJson() const;
    static platform::Result<PodcastDialogue> fromJson(const platform::Json& json);
    friend bool operator==(const PodcastDialogue&, const PodcastDialogue&) = default;
};

// The failures of script generation, with the descriptions users see.
struct PodcastScriptGenerationError {
    enum class Kind { underlying = 1, emptyInput, emptyOutput, noParseableTurns };
    static constexpr const char* kDomain = "PodcastScriptGenerator.GenerationError";

    Kind kind;
    std::optional<platform::Error> cause;  // for `underlying`: the model call's error

    std::string description() const;
    platform::Error toError() const;
};

// Asks a language model for a two-host conversation about an article and
// parses the answer into turns. Immutable; usable from any thread.
class PodcastScriptGenerator {
public:
    using GenerationError = PodcastScriptGenerationError;
    // The language model: system prompt, user text, time-out in seconds → answer.
    using ModelCall =
        std::function<platform::Task<platform::Result<std::string>>(std::string systemPrompt, std::string userText,
                                                                   double timeout)>;

    PodcastScriptGenerator(PodcastHost hostA, PodcastHost hostB) : hostA(std::move(hostA)), hostB(std::move(hostB)) {}

    PodcastHost hostA;
    PodcastHost hostB;

    // The dialogue with this generator's hosts, or a GenerationError. The
    // time-out goes to the model call as it is; it is not enforced here.
    // The article and the answer are never logged, only counts.
    platform::Task<platform::Result<PodcastDialogue>> generate(std::string article, ModelCall modelCall,
                                                               double timeout) const;

    std::string systemPrompt() const;
    // The trimmed article framed as source content ("<input>...</input>").
    static std::string wrapArticle(std::string_view trimmedArticle);
    // The turns of a trimmed answer (possibly none).
    std::vector<PodcastTurn> parseTurns(std::string_view answer) const;

private:
    static platform::Task<platform::Result<PodcastDialogue>> generateImpl(PodcastScriptGenerator self,
                                                                          std::string article, ModelCall modelCall,
                                                                          double timeout);
};

}  // namespace parlowen
