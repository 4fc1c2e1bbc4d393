#pragma once

// Turns a web page's URL into the article text to be spoken, with its title,
// excerpt, byline, site name and hero image.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/defaults/UserDefaults.h"
#include "platform/http/HttpClient.h"
#include "platform/languagemodel/LanguageModel.h"
#include "platform/runtime/Error.h"
#include "platform/runtime/Executor.h"
#include "platform/runtime/Task.h"
#include "platform/values/Url.h"
#include "platform/webview/WebView.h"

namespace parlowen {

struct CleanedArticle {
    std::string title;
    std::string textContent;  // never empty
    std::optional<std::string> excerpt;
    std::optional<std::string> byline;
    std::optional<std::string> siteName;
    std::optional<platform::Url> heroImageURL;
};

struct CleanError {
    enum class Kind { fetchFailed = 1, scriptFailed = 2, unsupportedScheme = 3, noContent = 4 };
    Kind kind = Kind::noContent;
    std::string detail;  // the message, or the scheme

    static CleanError fetchFailed(std::string message) { return {Kind::fetchFailed, std::move(message)}; }
    static CleanError scriptFailed(std::string message) { return {Kind::scriptFailed, std::move(message)}; }
    static CleanError unsupportedScheme(std::string scheme) { return {Kind::unsupportedScheme, std::move(scheme)}; }
    static CleanError noContent() { return {Kind::noContent, {}}; }

    std::string errorDescription() const;
};
inline constexpr const char* kCleanErrorDomain = "ArticleCleaner.CleanError";
platform::Error toError(const CleanError& error);

class ArticleCleaner {
public:
    inline static constexpr const char* kLoadTimedOut =
        "Page load timed out after 30 seconds — site may have anti-bot redirects or never-completing JS";
    inline static constexpr const char* kStaticFetchUserAgent = platform::kBrowserUserAgent;

    struct Dependencies {
        platform::Executor& main;
        platform::HttpClient& http;
        platform::WebProfile& web;
        platform::UserDefaults& defaults;
        platform::LanguageModel& languageModel;
        // The text of the resource "Readability.js"; nothing when it is missing or unreadable.
        std::function<std::optional<std::string>()> readReadability;
        // How long a page may take to load.
        platform::Duration loadTimeout = platform::seconds(30);
    };

    explicit ArticleCleaner(Dependencies dependencies);
    ~ArticleCleaner();
    ArticleCleaner(const ArticleCleaner&) = delete;
    ArticleCleaner& operator=(const ArticleCleaner&) = delete;

    // Main executor. Its errors are CleanError's (and cancellation).
    platform::Task<platform::Result<CleanedArticle>> clean(std::string url);

    // The page's text; nothing when the fetch fails, answers outside 2xx or gives an empty body.
    platform::Task<std::optional<std::string>> staticFetch(platform::Url url);

    // Read once, at the first use.
    const std::string& readabilitySource();

    // Never fails: on any trouble the input comes back.
    platform::Task<std::string> polish(std::string text);

    // How long one scan of page text may run, in steps of the regex engine:
    // many times what a large ordinary page needs, and a bound on the stall a
    // hostile page can cause on the main executor.
    static constexpr std::int32_t kPageScanTimeLimit = 1000;

    // The page without its script elements; nothing when the scan reached its time limit.
    static std::optional<std::string> removingScripts(std::string_view html);

    static std::vector<std::string> sentences(std::string_view text);
    static std::string dropLeadingBoilerplate(std::string_view text);
    static std::optional<platform::Url> resolveImageURL(std::string_view candidate, const platform::Url& base);
    static std::optional<platform::Url> chooseHeroImage(std::string_view html,
                                                        const std::optional<std::string>& content,
                                                        const platform::Url& base);

    static const char* const extractionScript;
    static const std::vector<std::string> leadingBoilerplatePrefixes;
    static const char* const ogImagePatterns[2];
    static const char* const contentImagePattern;
    static std::string polishInstructions();
    static std::string polishPrompt(std::string_view text);

private:
    platform::Task<platform::Result<CleanedArticle>> extract(platform::WebPage& page, const platform::Url& url,
                                                             const std::optional<std::string>& fetched);

    Dependencies deps_;
    std::optional<std::string> readability_;
};

// The resource "Readability.js" through resourcePath, as UTF-8 text.
std::optional<std::string> readBundledReadability();

}  // namespace parlowen
