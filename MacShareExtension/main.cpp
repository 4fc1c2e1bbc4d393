// The share extension's program: takes the shared links or texts from its
// arguments, saves the first link as a Listen Later record for Parlowen to
// take up, shows the outcome in a small panel and ends.

#include <filesystem>
#include <string>

#include <QWidget>

#include "MacShareExtension/ArgumentShareContext.h"
#include "MacShareExtension/MacShareConfirmation.h"
#include "MacShareExtension/ShareViewController.h"
#include "platform/clouddb/SqliteCloudDatabase.h"
#include "platform/runtime/QtMainExecutor.h"
#include "platform/runtime/WorkerPool.h"
#include "platform/ui/Application.h"
#include "platform/ui/IconRegistry.h"
#include "platform/ui/LinuxAnnouncer.h"
#include "platform/values/XdgDirs.h"

#include "platform/log/Log.h"
#include "platform/log/LogSink.h"
#include "platform/runtime/CommandLine.h"
#include "platform/runtime/Environment.h"

namespace {

std::string helpText() {
    return "Usage: ParlowenMacShareExtension [--help | --version] [--] [LINK-OR-TEXT...]\n"
           "\n"
           "Parlowen's share extension: a desktop entry starts it with the link or text\n"
           "you share, for Parlowen's Listen Later queue.\n"
           "\n"
           "Log: the systemd journal (journalctl -t ParlowenMacShareExtension); notices\n"
           "     and errors also go to standard error when it is a terminal or when\n"
           "     PARLOWEN_LOG_STDERR=1 is set. Without a journal the log goes to\n"
           "     standard error.\n"
           "\n"
           "Options:\n"
           "  -h, --help     show this help and exit\n"
           "      --version  show the version and exit\n"
           "  --             what follows is shared as it is, even when it starts with -\n";
}

}  // namespace

int main(int argc, char** argv) {
    const auto environment = platform::Environment::fromProcess();
    const auto commandLine = platform::parseCommandLine(platform::argumentsOf(argc, argv), {.operandsAllowed = true});
    if (auto code = platform::answerCommandLine(commandLine, "ParlowenMacShareExtension", PARLOWEN_VERSION, helpText))
        return *code;

    platform::startProgramLogging(environment.value("PARLOWEN_LOG_STDERR") == "1");
    const platform::Logger log("com.kelvatrum.Parlowen.MacShareExtension", "share");
    log.notice("launch arguments={}", commandLine.operands.size());

    platform::ui::Application application(argc, argv);
    platform::ui::IconRegistry::shared().setEnvironment(environment);
    platform::QtMainExecutor main;
    platform::WorkerPool pool(1);
    platform::SystemClock clock;
    platform::SqliteCloudDatabase database(
        pool, platform::SqliteCloudDatabase::containerFolder(platform::XdgDirs(environment),
                                                              parlowen::ShareViewController::kContainerIdentifier));

    std::shared_ptr<parlowen::ShareViewController> controller;
    int exitCode = 1;
    std::error_code ec;
    parlowen::ArgumentShareContext context(commandLine.operands, std::filesystem::current_path(ec), [&] {
        exitCode = controller->viewModel()->state.get().kind == parlowen::MacShareViewModel::State::Kind::success ? 0 : 1;
        application.terminate();
    });
    controller = parlowen::ShareViewController::create({main, &context, database, clock});

    // The panel: the confirmation view in a small window whose title follows it.
    QWidget window;
    window.setObjectName("sharePanel");
    window.setWindowTitle(QStringLiteral("Add to Quon"));
    auto* confirmation = new parlowen::MacShareConfirmation(controller->viewModel(), &window);
    window.setFixedSize(confirmation->size());
    const auto titleFollows = controller->viewModel()->state.subscribe([&window](const auto& state) {
        const auto look = parlowen::MacShareConfirmation::lookOf(state.kind);
        std::string title = look.title;
        if (!state.message.empty()) title += ": " + state.message;
        window.setWindowTitle(QString::fromStdString(title));
    });
    platform::ui::LinuxAnnouncer announcer(parlowen::ShareViewController::logger());
    window.show();
    controller->setWindowAnnouncer(&announcer);

    application.whenRunning([&] { controller->viewDidLoad(); });
    application.exec();
    return exitCode;
}
