#include "platform/x11/QtUrlOpener.h"

#include <gtest/gtest.h>

#include <QDesktopServices>
#include <QObject>
#include <QUrl>

#include "platform/log/CaptureSink.h"

namespace platform {
namespace {

class UrlReceiver : public QObject {
    Q_OBJECT
public:
    QList<QUrl> received;
public slots:
    void open(const QUrl& url) { received.append(url); }
};

TEST(SettingsPanelForURL, MapsSystemSettingsPanesToDesktopPanels) {
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {"x-apple.systempreferences:com.apple.preference.security?Privacy_Microphone", "microphone"},
        {"x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility", "universal-access"},
        {"x-apple.systempreferences:com.apple.preference.security?Privacy_ListenEvent", "keyboard"},
        {"x-apple.systempreferences:com.apple.preference.keyboard?Dictation", "keyboard"},
        {"x-apple.systempreferences:com.apple.preference.security?Privacy_SpeechRecognition", std::nullopt},
        {"x-apple.systempreferences:com.apple.LoginItems-Settings.extension", std::nullopt},
        {"https://example.org/", std::nullopt},
    };
    for (const auto& [url, panel] : cases) EXPECT_EQ(settingsPanelForURL(url), panel) << url;
}

TEST(OpenURLOnDesktop, HandsWebURLsToTheDesktopAndLogsSettingsPanesItCannotOpen) {
    UrlReceiver receiver;
    QDesktopServices::setUrlHandler("https", &receiver, "open");
    EXPECT_TRUE(openURLOnDesktop("https://example.org/a?b=c"));
    QDesktopServices::unsetUrlHandler("https");
    ASSERT_EQ(receiver.received.size(), 1);
    EXPECT_EQ(receiver.received[0].toString().toStdString(), "https://example.org/a?b=c");

    ScopedLogCapture log;
    // The speech pane has no desktop counterpart whatever is installed.
    EXPECT_FALSE(openURLOnDesktop("x-apple.systempreferences:com.apple.preference.security?Privacy_SpeechRecognition"));
    EXPECT_TRUE(log->contains("openURL: no desktop settings panel for "
                              "x-apple.systempreferences:com.apple.preference.security?Privacy_SpeechRecognition"));
}

}  // namespace
}  // namespace platform

#include "QtUrlOpener_test.moc"
