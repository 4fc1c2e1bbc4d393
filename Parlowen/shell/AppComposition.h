#pragma once

// The program's composition: the real services on this desktop, the
// settings model, the dictation coordinator and the application coordinator
// over them. One object, built in the delegate's launch order.

#include <functional>
#include <memory>

#include "Parlowen/shell/AppDelegate.h"
#include "platform/runtime/Environment.h"
#include "platform/runtime/Executor.h"

namespace parlowen {

class AppComposition {
public:
    AppComposition(platform::Environment environment, platform::Executor& main);
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
