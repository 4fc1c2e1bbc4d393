#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "Parlowen/model/RawEnum.h"

namespace parlowen {

// A rewrite style offered in the Notepad (built-in or made by the user). The
// built-in lists and prompt completion belong to the language-model services.
struct Tone {
    std::string id;
    std::string displayName;
    std::optional<std::string> symbolName;
    std::string systemPrompt;
    bool isBuiltIn = false;

    friend bool operator==(const Tone&, const Tone&) = default;
};

// A rewrite that turns the text into something else (summary, list, ...).
struct AgentCommand {
    std::string id;
    std::string displayName;
    std::optional<std::string> symbolName;
    std::string oneLiner;
    std::string systemPrompt;
    bool isBuiltIn = false;

    friend bool operator==(const AgentCommand&, const AgentCommand&) = default;
};

// JSON objects with the members in field order; "symbolName" is left out when
// absent. Reading requires every other member with its JSON type.
template <>
struct JsonCodec<Tone> {
    static platform::Json encode(const Tone& tone);
    static platform::Result<Tone> decode(const platform::Json& json);
};

template <>
struct JsonCodec<AgentCommand> {
    static platform::Json encode(const AgentCommand& agent);
    static platform::Result<AgentCommand> decode(const platform::Json& json);
};

}  // namespace parlowen

template <>
struct std::hash<parlowen::Tone> {
    std::size_t operator()(const parlowen::Tone& t) const noexcept;
};
template <>
struct std::hash<parlowen::AgentCommand> {
    std::size_t operator()(const parlowen::AgentCommand& a) const noexcept;
};
