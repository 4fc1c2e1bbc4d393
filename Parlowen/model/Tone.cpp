#include "Parlowen/model/Tone.h"

#include <nlohmann/json.hpp>

#include "Parlowen/model/Hashing.h"

namespace parlowen {
namespace {

using platform::Json;
using platform::Result;

}  // namespace

Json JsonCodec<Tone>::encode(const Tone& tone) {
    Json j = Json::object();
    j["id"] = tone.id;
    j["displayName"] = tone.displayName;
    if (tone.symbolName) j["symbolName"] = *tone.symbolName;
    j["systemPrompt"] = tone.systemPrompt;
    j["isBuiltIn"] = tone.isBuiltIn;
    return j;
}

Result<Tone> JsonCodec<Tone>::decode(const Json& json) {
    Tone t;
    auto id = platform::requireString(json, "id");
    if (!id) return platform::fail(id.error());
    auto name = platform::requireString(json, "displayName");
    if (!name) return platform::fail(name.error());
    auto symbol = platform::optionalString(json, "symbolName");
    if (!symbol) return platform::fail(symbol.error());
    auto prompt = platform::requireString(json, "systemPrompt");
    if (!prompt) return platform::fail(prompt.error());
    auto builtIn = platform::requireBool(json, "isBuiltIn");
    if (!builtIn) return platform::fail(builtIn.error());
    return Tone{std::move(*id), std::move(*name), std::move(*symbol), std::move(*prompt), *builtIn};
}

Json JsonCodec<AgentCommand>::encode(const AgentCommand& agent) {
    Json j = Json::object();
    j["id"] = agent.id;
    j["displayName"] = agent.displayName;
    if (agent.symbolName) j["symbolName"] = *agent.symbolName;
    j["oneLiner"] = agent.oneLiner;
    j["systemPrompt"] = agent.systemPrompt;
    j["isBuiltIn"] = agent.isBuiltIn;
    return j;
}

Result<AgentCommand> JsonCodec<AgentCommand>::decode(const Json& json) {
    auto id = platform::requireString(json, "id");
    if (!id) return platform::fail(id.error());
    auto name = platform::requireString(json, "displayName");
    if (!name) return platform::fail(name.error());
    auto symbol = platform::optionalString(json, "symbolName");
    if (!symbol) return platform::fail(symbol.error());
    auto oneLiner = platform::requireString(json, "oneLiner");
    if (!oneLiner) return platform::fail(oneLiner.error());
    auto prompt = platform::requireString(json, "systemPrompt");
    if (!prompt) return platform::fail(prompt.error());
    auto builtIn = platform::requireBool(json, "isBuiltIn");
    if (!builtIn) return platform::fail(builtIn.error());
    return AgentCommand{std::move(*id),       std::move(*name),   std::move(*symbol),
                        std::move(*oneLiner), std::move(*prompt), *builtIn};
}

}  // namespace parlowen

std::size_t std::hash<parlowen::Tone>::operator()(const parlowen::Tone& t) const noexcept {
    std::size_t seed = 0;
    parlowen::hashValue(seed, t.id);
    parlowen::hashValue(seed, t.displayName);
    parlowen::hashValue(seed, t.symbolName);
    parlowen::hashValue(seed, t.systemPrompt);
    parlowen::hashValue(seed, t.isBuiltIn);
    return seed;
}

std::size_t std::hash<parlowen::AgentCommand>::operator()(const parlowen::AgentCommand& a) const noexcept {
    std::size_t seed = 0;
    parlowen::hashValue(seed, a.id);
    parlowen::hashValue(seed, a.displayName);
    parlowen::hashValue(seed, a.symbolName);
    parlowen::hashValue(seed, a.oneLiner);
    parlowen::hashValue(seed, a.systemPrompt);
    parlowen::hashValue(seed, a.isBuiltIn);
    return seed;
}
