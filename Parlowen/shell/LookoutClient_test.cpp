#include "Parlowen/shell/LookoutClient.h"

#include <gtest/gtest.h>

#include "Parlowen/shell/settings/PreferencesStore.h"
#include "platform/defaults/InMemoryUserDefaults.h"
#include "platform/log/CaptureSink.h"

namespace parlowen {
namespace {

using platform::Breadcrumb;
using platform::CrashEvent;
using platform::ReportData;

const std::string kHome = "/home/ada";

class LookoutClientTest : public ::testing::Test {
protected:
    platform::ScopedLogCapture logs;
    platform::InMemoryUserDefaults defaults;
    PreferencesStore settings{defaults, {}};
    platform::RecordingCrashReporter reporter;
    BundleInfo bundle{.shortVersion = "1.4.2", .bundleVersion = "57", .crashReporterEndpoint = "https://r.example/1"};

    LookoutClient client(BundleInfo b) { return LookoutClient(reporter, std::move(b), kHome); }
};

TEST_F(LookoutClientTest, StartsOnceWithConsentAndAnEndpointWithTheFixedOptions) {
    settings.sendCrashReports.set(true);
    auto lookout = client(bundle);
    lookout.start(settings);
    lookout.start(settings);
    EXPECT_TRUE(lookout.isStarted());
    EXPECT_EQ(reporter.startCount(), 1);
    auto options = reporter.options().value();
    EXPECT_EQ(options.endpoint, "https://r.example/1");
    EXPECT_EQ(options.releaseName, "parlowen@1.4.2+57");
    EXPECT_EQ(options.environment, "release");
    EXPECT_FALSE(options.sendDefaultPersonalData);
    EXPECT_TRUE(options.attachStacktrace);
    EXPECT_FALSE(options.enableAutoSessionTracking);
    EXPECT_FALSE(options.enableTracing);
    EXPECT_EQ(options.tracesSampleRate, 0.0);
    EXPECT_TRUE(options.beforeSend && options.beforeBreadcrumb);
    ASSERT_EQ(logs->linesOfCategory("lookout").size(), 1u);
    EXPECT_EQ(logs->linesOfCategory("lookout")[0].message, "crash reporting active (release=parlowen@1.4.2+57 env=release)");

    lookout.stop();
    lookout.stop();
    EXPECT_EQ(reporter.closeCount(), 1);
    EXPECT_FALSE(lookout.isStarted());
    EXPECT_TRUE(logs->contains("crash reporting deactivated (will resume on next launch if pref is on)"));
    lookout.record(LookoutClient::Category::themeSwitched, "after stop");
    EXPECT_TRUE(reporter.breadcrumbs().empty());
}

TEST_F(LookoutClientTest, WithoutConsentOrEndpointTheReporterStaysOffAndRecordAndStopDoNothing) {
    struct Case {
        bool consent;
        std::optional<std::string> endpoint;
        const char* line;
    };
    for (const Case& c : {Case{false, "https://r.example/1", "crash reporting disabled by preference"},
                          Case{true, std::string(), "crash reporting endpoint not configured"},
                          Case{true, std::nullopt, "crash reporting endpoint not configured"}}) {
        logs->clear();
        settings.sendCrashReports.set(c.consent);
        BundleInfo b = bundle;
        b.crashReporterEndpoint = c.endpoint;
        auto lookout = client(b);
        lookout.start(settings);
        lookout.record(LookoutClient::Category::voiceChanged, "voice changed");
        lookout.stop();
        EXPECT_FALSE(lookout.isStarted()) << c.line;
        EXPECT_TRUE(logs->contains(c.line)) << c.line;
        EXPECT_EQ(logs->linesOfCategory("lookout").size(), 1u) << c.line;
    }
    EXPECT_EQ(reporter.startCount(), 0);
    EXPECT_EQ(reporter.closeCount(), 0);
    EXPECT_TRUE(reporter.breadcrumbs().empty());
}

TEST_F(LookoutClientTest, ReleaseNameTakesItsDefaultsWhenTheBuildHasNoValues) {
    EXPECT_EQ(LookoutClient::releaseName({}), "parlowen@0.0.0+0");
    EXPECT_EQ(LookoutClient::releaseName({.shortVersion = "1.4.2", .bundleVersion = "57"}), "parlowen@1.4.2+57");
    EXPECT_EQ(LookoutClient::releaseName({.shortVersion = "2.0"}), "parlowen@2.0+0");
    // The build's own values are never empty texts.
    auto own = BundleInfo::thisBuild();
    EXPECT_NE(own.shortVersion, std::optional<std::string>(""));
    EXPECT_NE(own.crashReporterEndpoint, std::optional<std::string>(""));
}

TEST_F(LookoutClientTest, RecordReplacesTheHomePathAndKeepsOnlyAllowedDataKeys) {
    settings.sendCrashReports.set(true);
    auto lookout = client(bundle);
    lookout.start(settings);
    lookout.record(LookoutClient::Category::readAloudError, "failed to read " + kHome + "/Documents/x.txt",
                   ReportData{{"engine", std::string("kokoro")}, {"did_fallback", true}, {"error", std::string("x")}});
    lookout.record(LookoutClient::Category::themeSwitched, "theme switched in Appearance tab",
                   ReportData{{"previous_theme", std::string("hearth")}, {"theme", std::string("dusk")}});
    lookout.record(LookoutClient::Category::kokoroDownloadFailed, "");
    auto crumbs = reporter.breadcrumbs();
    ASSERT_EQ(crumbs.size(), 3u);
    EXPECT_EQ(crumbs[0].category, "read_aloud.error");
    EXPECT_EQ(crumbs[0].level, "info");
    EXPECT_EQ(crumbs[0].message, "failed to read ~/Documents/x.txt");
    EXPECT_EQ(crumbs[0].data, (ReportData{{"engine", std::string("kokoro")}}));
    EXPECT_EQ(crumbs[1].category, "theme.switched");
    EXPECT_EQ(crumbs[1].data->size(), 2u);
    EXPECT_EQ(crumbs[2].category, "kokoro.download_failed");
    EXPECT_EQ(crumbs[2].message, "");
    EXPECT_EQ(crumbs[2].data, ReportData{}) << "the hook gives missing data an empty dictionary";
}

TEST(LookoutScrubbing, HomePathReplacement) {
    struct Case {
        std::string text, home, expected;
    };
    for (const Case& c : std::vector<Case>{
             {"/home/ada/Documents/x.txt", "/home/ada", "~/Documents/x.txt"},
             {"no path here", "/home/ada", "no path here"},
             {"", "/home/ada", ""},
             {"/home/ada/a and /home/ada/b", "/home/ada", "~/a and ~/b"},
             {"/home/ada/a", "", "/home/ada/a"},
             {"/HOME/ADA/a", "/home/ada", "/HOME/ADA/a"},
         })
        EXPECT_EQ(LookoutClient::replacingHomePath(c.text, c.home), c.expected) << c.text;
}

TEST(LookoutScrubbing, BreadcrumbsOfHttpAndUiAreDroppedOthersAreFiltered) {
    auto crumb = [](std::optional<std::string> category, std::optional<std::string> type = std::nullopt) {
        Breadcrumb b;
        b.category = std::move(category);
        b.type = std::move(type);
        return b;
    };
    EXPECT_FALSE(LookoutClient::scrubBreadcrumb(crumb("http"), kHome));
    EXPECT_FALSE(LookoutClient::scrubBreadcrumb(crumb("navigation", "http"), kHome));
    EXPECT_FALSE(LookoutClient::scrubBreadcrumb(crumb("ui.click"), kHome));
    EXPECT_FALSE(LookoutClient::scrubBreadcrumb(crumb("ui."), kHome));
    EXPECT_TRUE(LookoutClient::scrubBreadcrumb(crumb("uix"), kHome));
    EXPECT_TRUE(LookoutClient::scrubBreadcrumb(crumb(std::nullopt), kHome));

    Breadcrumb theme = crumb("theme.switched");
    theme.message = kHome + "/x";
    theme.data = ReportData{{"theme", std::string("dusk")}, {"path", std::string("/home/ada/x")}};
    auto kept = LookoutClient::scrubBreadcrumb(theme, kHome);
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->message, "~/x");
    EXPECT_EQ(kept->data, (ReportData{{"theme", std::string("dusk")}}));
    Breadcrumb bare = crumb("voice.changed");
    auto bareKept = LookoutClient::scrubBreadcrumb(bare, kHome);
    EXPECT_EQ(bareKept->message, std::nullopt) << "a missing message stays missing";
    EXPECT_EQ(bareKept->data, ReportData{});
}

TEST(LookoutScrubbing, EventsLoseUserServerNameAndUnlistedFieldsButAreNeverDropped) {
    CrashEvent event;
    event.user = platform::ReportUser{"42", "ada@example.com", "ada", "10.0.0.1"};
    event.serverName = "adas-laptop";
    event.tags = std::map<std::string, std::string>{{"subsystem", "dictation"}, {"device", "MacBookPro"}};
    event.extra = ReportData{{"engine", std::string("groq")}, {"transcript", std::string("secret words")}};
    Breadcrumb http;
    http.category = "http";
    Breadcrumb theme;
    theme.category = "theme.switched";
    theme.message = "opened " + kHome + "/a";
    event.breadcrumbs = std::vector<Breadcrumb>{http, theme};
    event.exceptions = {{"Error", "cannot open " + kHome + "/b"}, {"Other", std::nullopt}};
    event.message = platform::ReportMessage{"saved to " + kHome + "/c", "saved to %s", {kHome + "/c"}};

    CrashEvent scrubbed = LookoutClient::scrubEvent(event, kHome);
    EXPECT_FALSE(scrubbed.user);
    EXPECT_FALSE(scrubbed.serverName);
    EXPECT_EQ(scrubbed.tags, (std::map<std::string, std::string>{{"subsystem", "dictation"}}));
    EXPECT_EQ(scrubbed.extra, (ReportData{{"engine", std::string("groq")}}));
    ASSERT_EQ(scrubbed.breadcrumbs->size(), 1u);
    EXPECT_EQ(scrubbed.breadcrumbs->front().message, "opened ~/a");
    EXPECT_EQ(scrubbed.exceptions[0].value, "cannot open ~/b");
    EXPECT_EQ(scrubbed.exceptions[1].value, std::nullopt);
    EXPECT_EQ(scrubbed.message, (platform::ReportMessage{"saved to ~/c", std::nullopt, {}}))
        << "the message is rebuilt from its formatted text alone";

    CrashEvent empty = LookoutClient::scrubEvent({}, kHome);
    EXPECT_EQ(empty.tags, (std::map<std::string, std::string>{}));
    EXPECT_EQ(empty.extra, ReportData{});
    EXPECT_FALSE(empty.message);
    CrashEvent emptyMessage;
    emptyMessage.message = platform::ReportMessage{""};
    EXPECT_EQ(LookoutClient::scrubEvent(emptyMessage, kHome).message->formatted, "");
}

TEST_F(LookoutClientTest, TheInstalledHooksScrubWhatTheReporterKeepsAndSends) {
    settings.sendCrashReports.set(true);
    auto lookout = client(bundle);
    lookout.start(settings);
    Breadcrumb ui;
    ui.category = "ui.click";
    reporter.addBreadcrumb(ui);
    EXPECT_TRUE(reporter.breadcrumbs().empty());
    CrashEvent event;
    event.serverName = "host";
    event.tags = std::map<std::string, std::string>{{"device", "x"}};
    auto sent = reporter.send(event);
    ASSERT_TRUE(sent);
    EXPECT_FALSE(sent->serverName);
    EXPECT_TRUE(sent->tags->empty());
    // The Linux reporter takes the same options and sends nothing anywhere.
    auto local = platform::makeLocalCrashReporter();
    LookoutClient onLinux(*local, bundle, kHome);
    onLinux.start(settings);
    onLinux.record(LookoutClient::Category::engineSelected, "engine selected");
    onLinux.stop();
    EXPECT_FALSE(onLinux.isStarted());
}

}  // namespace
}  // namespace parlowen
