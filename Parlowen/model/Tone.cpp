#include "Parlowen/model/Tone.h"

#include <nlohmann/json.hpp>

#include "Parlowen/model/Hashing.h"

namespace parlowen {
namespace {

using platform::Json;
using platform::Result;

// A tone and an agent command share their members; an agent command has a
// one-liner as well, which comes before the prompt.
template <class T>
constexpr bool kHasOneLiner = requires(const T& value) { value.oneLiner; };

template <class T>
Json encodeRewrite(const T& value) {
    Json j = Json::object();
    j["id"] = value.id;
    j["displayName"] = value.displayName;
    if (value.symbolName) j["symbolName"] = *value.symbolName;
    if constexpr (kHasOneLiner<T>) j["oneLiner"] = value.oneLiner;
    j["systemPrompt"] = value.systemPrompt;
    j["isBuiltIn"] = value.isBuiltIn;
    return j;
}

// Members are read in field order; the first that fails gives the error.
template <class T>
Result<T> decodeRewrite(const Json& json) {
    T value;
#define PARLOWEN_READ(field, reader)                     \
    if (auto read = reader(json, #field); !read)         \
        return platform::fail(read.error());             \
    else                                                 \
        value.field = std::move(*read)

    PARLOWEN_READ(id, platform::requireString);
    PARLOWEN_READ(displayName, platform::requireString);
    PARLOWEN_READ(symbolName, platform::optionalString);
    if constexpr (kHasOneLiner<T>) {
        PARLOWEN_READ(oneLiner, platform::requireString);
    }
    PARLOWEN_READ(systemPrompt, platform::requireString);
    PARLOWEN_READ(isBuiltIn, platform::requireBool);
#undef PARLOWEN_READ
    return value;
}

template <class T>
std::size_t hashRewrite(const T& value) {
    std::size_t seed = 0;
    hashValue(seed, value.id);
    hashValue(seed, value.displayName);
    hashValue(seed, value.symbolName);
    if constexpr (kHasOneLiner<T>) hashValue(seed, value.oneLiner);
    hashValue(seed, value.systemPrompt);
    hashValue(seed, value.isBuiltIn);
    return seed;
}

}  // namespace

Json JsonCodec<Tone>::encode(const Tone& tone) { return encodeRewrite(tone); }
Result<Tone> JsonCodec<Tone>::decode(const Json& json) { return decodeRewrite<Tone>(json); }

Json JsonCodec<AgentCommand>::encode(const AgentCommand& agent) { return encodeRewrite(agent); }
Result<AgentCommand> JsonCodec<AgentCommand>::decode(const Json& json) { return decodeRewrite<AgentCommand>(json); }

}  // namespace parlowen

std::size_t std::hash<parlowen::Tone>::operator()(const parlowen::Tone& t) const noexcept {
    return parlowen::hashRewrite(t);
}

std::size_t std::hash<parlowen::AgentCommand>::operator()(const parlowen::AgentCommand& a) const noexcept {
    return parlowen::hashRewrite(a);
}
