#include "Parlowen/notepad/Tones.h"

#include "platform/text/Unicode.h"

namespace parlowen {

const std::string_view kTonePromptSuffix =
    "\n\nReturn ONLY the rewritten text. Do not preface with \"Here is\" or any explanation. Do not wrap your "
    "response in quotation marks. Preserve technical content (code, URLs, numbers, names, file paths) exactly as "
    "written. Preserve the original meaning — never add or remove ideas, only restyle.";

const std::vector<Tone>& builtInTones() {
    static const std::vector<Tone> tones{
        {"email", "Email", "envelope",
         "Rewrite the text as a polite, well-structured email. Use complete sentences and appropriate "
         "paragraphing. If the input starts mid-thought, infer a reasonable greeting only when the text reads "
         "like the start of a message — otherwise leave salutations alone. Keep the original meaning intact. "
         "Match the formality the writer is using.",
         true},
        {"casual", "Casual", "bubble.left",
         "Rewrite the text in a casual, conversational tone — like a friendly note or a text message to someone "
         "you know. Contractions are fine. Don't be stiff or formal. Keep it warm without being saccharine.",
         true},
        {"professional", "Professional", "briefcase",
         "Rewrite the text in clear, neutral business prose. Aim for the tone of a competent colleague writing "
         "to another competent colleague. No marketing language, no buzzwords, no exclamation points unless the "
         "original had them. Direct and unhedged.",
         true},
        {"concise", "Concise", "text.alignleft",
         "Rewrite the text to convey the same meaning in fewer words. Cut filler (\"basically\", \"I think\", "
         "\"kind of\"). Cut repetition. Cut hedges that don't carry information. Don't change the substance — "
         "only the verbosity.",
         true},
        {"slack", "Slack", "number",
         "Rewrite the text as a brief Slack or chat message. No salutation. No sign-off. Punchy and informal. "
         "One or two short paragraphs at most. Code blocks and inline code formatting are welcome when "
         "applicable.",
         true},
        {"code-comment", "Code comment", "chevron.left.forwardslash.chevron.right",
         "Rewrite the text as a code comment explaining intent. Technical, precise, no first-person (\"I\"). "
         "Focus on the \"why,\" not the \"what.\" Suitable to paste above a function or block of code. No "
         "greetings or closings.",
         true},
    };
    return tones;
}

const std::vector<AgentCommand>& builtInAgents() {
    static const std::vector<AgentCommand> agents{
        {"summarize", "Summarize", "text.alignleft",
         "Compress to a single paragraph that captures the main points.",
         "You are a summarizer. The user will send you a piece of text. Return ONLY a one-paragraph summary "
         "capturing the main points. Do not preserve the original's structure; restate concisely. Do not wrap "
         "your response in quotation marks. Do not add commentary or preamble.",
         true},
        {"bulleted-list", "Bulleted list", "list.bullet",
         "Extract the key points as a Markdown bulleted list.",
         "You are a bulleted-list converter. The user will send you a piece of text. Return ONLY a Markdown "
         "bulleted list (each line starting with \"- \") of the key points. Do not include a heading or any "
         "text before the first bullet. Do not add commentary or preamble. Preserve the user's specific "
         "terminology.",
         true},
        {"expand", "Expand", "arrow.up.left.and.arrow.down.right",
         "Turn shorthand into polished prose, keeping the original voice.",
         "You are a prose expander. The user will send you a piece of shorthand or terse text. Return ONLY a "
         "longer, more polished version that preserves all the original facts and intent while filling in the "
         "prose. Keep the same voice and register. Do not add new information that isn't implied by the "
         "original. Do not wrap your response in quotation marks. Do not add commentary or preamble.",
         true},
        {"action-items", "Action items", "checklist",
         "Pull out concrete tasks as a Markdown checklist.",
         "You are an action-item extractor. The user will send you a piece of text. Return ONLY a Markdown "
         "checklist (each line starting with \"- [ ] \") of concrete, completable tasks implied by the text. "
         "Each item should be specific enough that someone could do it without re-reading the original. Do not "
         "include items that aren't actionable. Do not include a heading or commentary. If the text contains no "
         "action items, return the single line \"No action items found.\"",
         true},
    };
    return agents;
}

std::string fullSystemPrompt(const Tone& tone) {
    return platform::text::trim(tone.systemPrompt) + std::string(kTonePromptSuffix);
}

}  // namespace parlowen
