#pragma once

#include <string>
#include <string_view>

// The frame in which user content goes to a language model, so the model
// treats it as material to transform and never as instructions:
//
//   <instruction>\n\n<input>\n<content, sanitised>\n</input>
namespace parlowen::PromptEnvelope {

// `content` with every "</input>" (any letter case) turned into "</input "
// (lower case, the closing bracket replaced by a space), so the content cannot
// close the frame early. Nothing else changes and nothing is trimmed.
std::string sanitize(std::string_view content);

// The whole frame around `content` (sanitised here) with `instruction` first.
std::string wrap(std::string_view content, std::string_view instruction);

}  // namespace parlowen::PromptEnvelope
