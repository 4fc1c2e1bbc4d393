#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ui/InlineMarkdown.h"

namespace platform::ui {
namespace {

TEST(InlineMarkdown, RendersInlineSpansAndLeavesEverythingElseAsText) {
    struct Case {
        std::string in;
        std::string out;
    };
    const std::vector<Case> cases{
        {"plain text", "plain text"},
        {"**Direct dictation never reaches Claude**, ever", "<b>Direct dictation never reaches Claude</b>, ever"},
        {"a __strong__ word", "a <b>strong</b> word"},
        {"an *italic* word and _another_", "an <i>italic</i> word and <i>another</i>"},
        {"keep snake_case_names as they are", "keep snake_case_names as they are"},
        {"run `git status` now", "run <code>git status</code> now"},
        {"code keeps `**stars**` and <tags>", "code keeps <code>**stars**</code> and &lt;tags&gt;"},
        {"``a ` tick``", "<code>a ` tick</code>"},
        {"~~gone~~ but ~one~ stays", "<s>gone</s> but ~one~ stays"},
        {"see [the docs](https://example.com/a?b=1&c=2)", "see <a href=\"https://example.com/a?b=1&amp;c=2\">the docs</a>"},
        {"[**bold** link](x)", "<a href=\"x\"><b>bold</b> link</a>"},
        {"**nested *italic* inside**", "<b>nested <i>italic</i> inside</b>"},
        {"2 * 3 * 4", "2 * 3 * 4"},
        {"**unclosed bold", "**unclosed bold"},
        {"`unclosed code", "`unclosed code"},
        {"[not a link]", "[not a link]"},
        {"\\*literal\\* stars", "*literal* stars"},
        {"# not a heading\n1. not a list", "# not a heading<br/>1. not a list"},
        {"\"thoon\" for Thune & <b>", "&quot;thoon&quot; for Thune &amp; &lt;b&gt;"},
        {"**ALL-CAPS** marks", "<b>ALL-CAPS</b> marks"},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(inlineMarkdownToHtml(c.in), c.out) << c.in;
}

}  // namespace
}  // namespace platform::ui
