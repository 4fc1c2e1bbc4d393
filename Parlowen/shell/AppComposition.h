#pragma once

// The program's composition: the real services on this desktop, the
// settings model, the dictation coordinator and the application coordinator
// over them. One object, built in the delegate's launch order.

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include "Parlowen/shell/AppDelegate.h"
#include "Parlowen/shell/BundleLocation.h"
#include "platform/runtime/Environment.h"
#include "platform/runtime/Executor.h"

namespace platform::ui {
class AlertPresenter;
}

namespace parlowen {

class AppComposition {
public:
    struct Options {
        // Where the program runs from: automatic update checks only from an install location.
        BundleLocation::Status location = BundleLocation::Status::otherUnknown;
        // A JSGF grammar the recogniser's model is narrowed to (none: the full language model).
        std::optional<std::filesystem::path> recognizerGrammar;
    };

    AppComposition(platform::Environment environment, platform::Executor& main, platform::ui::AlertPresenter& alerts,
                   Options options);
    ~AppComposition();
    AppComposition(const AppComposition&) = delete;
    AppComposition& operator=(const AppComposition&) = delete;

    // The delegate's launch steps, in this order.
    void createSettings();
    void startCrashReporter();
    std::unique_ptr<DelegateCoordinator> makeCoordinator();

    // The `hideMenuBarIcon` setting (off before the settings exist).
    bool hideMenuBarIcon() const;
    // How "Quit Parlowen" ends the program (the delegate's terminate path).
    void setTerminate(std::function<void()> terminate);

private:
    struct Parts;
    std::unique_ptr<Parts> parts_;
    std::function<void()> terminate_;
};

}  // namespace parlowen
