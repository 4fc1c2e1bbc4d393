#include "MacShareExtension/ArgumentShareContext.h"

#include <fstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/runtime/ManualExecutor.h"
#include "platform/testsupport/TempHome.h"

namespace parlowen {
namespace {

using Kind = ArgumentAttachment::Kind;
using ::testing::ElementsAre;

std::string describe(const SharedItem& item) {
    if (const auto* url = std::get_if<platform::Url>(&item)) return "url " + url->absoluteString();
    if (const auto* text = std::get_if<std::string>(&item)) return "text " + *text;
    return "other";
}

TEST(ArgumentShareContextTest, ClassifiesEachArgumentAndLoadsItsTypes) {
    testsupport::TempDir dir;
    std::ofstream(dir / "page.html") << "<html></html>";
    const std::string absolute = (dir / "page.html").string();
    struct Case {
        std::string argument;
        Kind kind;
        std::vector<std::string> types;
        std::string firstLoad;  // what the first registered type loads as
    };
    const std::vector<Case> cases = {
        {"https://example.com/a?b=1", Kind::link, {kTypeURL, kTypePlainText}, "url https://example.com/a?b=1"},
        {"HTTP://Example.com/", Kind::link, {kTypeURL, kTypePlainText}, "url http://Example.com/"},
        {"file:///etc/hostname", Kind::fileURL, {kTypeFileURL}, "url file:///etc/hostname"},
        {absolute, Kind::fileURL, {kTypeFileURL}, "url file://" + absolute},
        {"page.html", Kind::fileURL, {kTypeFileURL}, "url file://" + absolute},
        {"ftp://example.com/x", Kind::plainText, {kTypePlainText}, "text ftp://example.com/x"},
        {"a few words", Kind::plainText, {kTypePlainText}, "text a few words"},
        {"", Kind::plainText, {kTypePlainText}, "text "},
    };
    platform::ManualExecutor executor;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.argument);
        const auto attachment = ArgumentAttachment::classify(c.argument, dir.path());
        EXPECT_EQ(attachment->kind(), c.kind);
        EXPECT_EQ(attachment->registeredTypeIdentifiers(), c.types);
        auto load = platform::spawn(executor, attachment->loadItem(c.types.front()));
        executor.runUntilIdle();
        ASSERT_TRUE(load.value());
        EXPECT_EQ(describe(*load.value()), c.firstLoad);
    }
}

TEST(ArgumentShareContextTest, BroaderTypesConformAndOthersFailToLoad) {
    const auto file = ArgumentAttachment::classify("file:///tmp/x", "/");
    EXPECT_TRUE(file->hasItemConformingTo(kTypeURL));
    EXPECT_FALSE(file->hasItemConformingTo(kTypeText));
    const auto text = ArgumentAttachment::classify("words", "/");
    EXPECT_TRUE(text->hasItemConformingTo(kTypeText));
    EXPECT_FALSE(text->hasItemConformingTo(kTypeURL));
    platform::ManualExecutor executor;
    auto load = platform::spawn(executor, text->loadItem(kTypeWebArchive));
    executor.runUntilIdle();
    EXPECT_FALSE(load.value());
}

TEST(ArgumentShareContextTest, EachArgumentIsOneItemAndCompletingCallsBack) {
    int completions = 0;
    ArgumentShareContext context({"https://a.example/", "words"}, "/", [&] { ++completions; });
    const auto items = context.inputItems();
    ASSERT_TRUE(items);
    ASSERT_EQ(items->size(), 2u);
    for (const auto& item : *items) {
        EXPECT_EQ(item.attachments.size(), 1u);
        EXPECT_FALSE(item.attributedContentText);
    }
    context.completeRequest();
    EXPECT_EQ(completions, 1);
}

}  // namespace
}  // namespace parlowen
