#include "Parlowen/shell/Program.h"

#include <unistd.h>

#include <system_error>

#include "Parlowen/shell/AppComposition.h"
#include "Parlowen/shell/AppDelegate.h"
#include "Parlowen/shell/ProgramHelp.h"
#include "Parlowen/shell/SingleInstance.h"
#include "platform/log/Log.h"
#include "platform/log/LogSink.h"
#include "platform/runtime/CommandLine.h"
#include "platform/runtime/Environment.h"
#include "platform/runtime/QtMainExecutor.h"
#include "platform/ui/Application.h"
#include "platform/ui/QtAlertPresenter.h"
#include "platform/values/XdgDirs.h"
#include "platform/webview/QtWebProfile.h"

namespace parlowen {

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

int runParlowen(int argc, char** argv, const ProgramOptions& options) {
    const auto environment = platform::Environment::fromProcess();
    // Answered before Qt starts, so they work without a display.
    const auto arguments = platform::argumentsOf(argc, argv);
    const auto commandLine = platform::parseCommandLine(arguments, {.passThrough = qtCommandLineOptions()});
    if (auto code = platform::answerCommandLine(commandLine, "Parlowen", PARLOWEN_VERSION, [&] {
            return programHelpText(platform::XdgDirs(environment));
        }))
        return *code;

    platform::startProgramLogging(environment.value("PARLOWEN_LOG_STDERR") == "1");
    platform::prepareWebEngine();  // before the application object exists
    platform::ui::Application app(argc, argv);
    const platform::Logger log("com.kelvatrum.Parlowen", "lifecycle");
    log.notice("launch version={} pid={}", PARLOWEN_VERSION, ::getpid());

    platform::QtMainExecutor mainExecutor;
    platform::ui::QtAlertPresenter alerts;
    const auto location = locateExecutable(executablePath(), environment.value("HOME"), buildTree());
    // Declared before the delegate: the coordinator it holds uses these parts.
    AppComposition composition(environment, mainExecutor, alerts,
                               {.location = location.status, .recognizerGrammar = options.recognizerGrammar});
    composition.setTerminate([&app] { app.terminate(); });
    AppDelegate delegate({
        .alerts = alerts,
        .terminate = [&app] { app.terminate(); },
        .location = location,
        .makeCoordinator = [&composition] { return composition.makeCoordinator(); },
        .hideMenuBarIcon = [&composition] { return composition.hideMenuBarIcon(); },
        .createSettings = [&composition] { composition.createSettings(); },
        .startCrashReporter = [&composition] { composition.startCrashReporter(); },
    });
    // One running copy: a second start hands this one a reopen request and ends.
    SingleInstance instance(SingleInstance::socketPath(environment), mainExecutor,
                            [&delegate] { delegate.applicationShouldHandleReopen(false); });
    if (instance.role() == SingleInstance::Role::secondary) {
        log.notice("another instance is running; handed it a reopen request");
        return 0;
    }
    app.setWillTerminate([&delegate] { delegate.applicationWillTerminate(); });
    app.whenRunning([&delegate] { delegate.launch(); });

    const int code = app.exec();
    log.notice("exit code={}", code);
    return code;
}

}  // namespace parlowen
