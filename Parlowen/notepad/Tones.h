#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "Parlowen/model/Tone.h"

namespace parlowen {

// The built-in tones, in chip order: email, casual, professional, concise,
// slack, code-comment. The email tone is the default tone.
const std::vector<Tone>& builtInTones();
// The built-in agents, in chip order: summarize, bulleted-list, expand, action-items.
const std::vector<AgentCommand>& builtInAgents();

// The rule text that completes every tone's prompt: two line feeds, then one line.
extern const std::string_view kTonePromptSuffix;

// The prompt a tone rewrite sends: the tone's prompt trimmed of white space and
// line breaks, then the rule text. Agents send their prompt unchanged.
std::string fullSystemPrompt(const Tone& tone);

}  // namespace parlowen
