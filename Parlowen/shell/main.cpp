// Program entry: the application object, its delegate, and the event loop
// that runs until the program is told to quit (Quit, SIGTERM or SIGINT).

#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "Parlowen/shell/AppComposition.h"
#include "Parlowen/shell/AppDelegate.h"
#include "Parlowen/shell/SingleInstance.h"
#include "Parlowen/shell/ProgramHelp.h"
#include "platform/log/Log.h"
#include "platform/log/LogSink.h"
#include "platform/runtime/CommandLine.h"
#include "platform/runtime/Environment.h"
#include "platform/runtime/QtMainExecutor.h"
#include "platform/values/XdgDirs.h"
#include "platform/ui/Application.h"
#include "platform/ui/QtAlertPresenter.h"
#include "platform/webview/QtWebProfile.h"

namespace {

std::string executablePath() {
    std::error_code ec;
    auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : path.string();
}

// The build folder this program was built in, as the file system names it.
std::string buildTree() {
    std::error_code ec;
    auto path = std::filesystem::weakly_canonical(PARLOWEN_BUILD_TREE, ec);
    return ec ? std::string(PARLOWEN_BUILD_TREE) : path.string();
}

}  // namespace

int main(int argc, char** argv) {
    const auto environment = platform::Environment::fromProcess();
    // Answered before Qt starts, so they work without a display.
    const auto arguments = platform::argumentsOf(argc, argv);
    const auto commandLine = platform::parseCommandLine(arguments, {.passThrough = parlowen::qtCommandLineOptions()});
    if (auto code = platform::answerCommandLine(commandLine, "Parlowen", PARLOWEN_VERSION, [&] {
            return parlowen::programHelpText(platform::XdgDirs(environment));
        }))
        return *code;

    platform::startProgramLogging(environment.value("PARLOWEN_LOG_STDERR") == "1");
    platform::prepareWebEngine();  // before the application object exists
    platform::ui::Application app(argc, argv);
    const platform::Logger log("com.kelvatrum.Parlowen", "lifecycle");
    log.notice("launch version={} pid={}", PARLOWEN_VERSION, ::getpid());

    platform::QtMainExecutor mainExecutor;
    // Declared before the delegate: the coordinator it holds uses these parts.
    parlowen::AppComposition composition(environment, mainExecutor);
    composition.setTerminate([&app] { app.terminate(); });
    platform::ui::QtAlertPresenter alerts;
    parlowen::AppDelegate delegate({
        .alerts = alerts,
        .terminate = [&app] { app.terminate(); },
        .location = parlowen::locateExecutable(executablePath(), environment.value("HOME"), buildTree()),
        .makeCoordinator = [&composition] { return composition.makeCoordinator(); },
        .hideMenuBarIcon = [&composition] { return composition.hideMenuBarIcon(); },
        .createSettings = [&composition] { composition.createSettings(); },
        .startCrashReporter = [&composition] { composition.startCrashReporter(); },
    });
    // One running copy: a second start hands this one a reopen request and ends.
    parlowen::SingleInstance instance(parlowen::SingleInstance::socketPath(environment), mainExecutor,
                                      [&delegate] { delegate.applicationShouldHandleReopen(false); });
    if (instance.role() == parlowen::SingleInstance::Role::secondary) {
        log.notice("another instance is running; handed it a reopen request");
        return 0;
    }
    app.setWillTerminate([&delegate] { delegate.applicationWillTerminate(); });
    app.whenRunning([&delegate] { delegate.launch(); });

    const int code = app.exec();
    log.notice("exit code={}", code);
    return code;
}
