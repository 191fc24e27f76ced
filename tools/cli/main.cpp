// quorbit-cli: a host program for libquorbit.so, loaded at run time.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tools/cli/commands.h"
#include "tools/cli/library.h"
#include "tools/cli/options.h"
#include "tools/cli/output_file.h"
#include "tools/cli/progress.h"

int main(int argc, char** argv) {
    const std::vector<std::string> argv_list(argv, argv + argc);
    std::string error;
    auto options = cli::ParseArguments(argv_list, &error);
    if (!options) {
        std::fprintf(stderr, "quorbit-cli: %s\nTry 'quorbit-cli --help'.\n", error.c_str());
        return cli::kExitUsage;
    }
    if (options->help) {
        std::fputs(cli::HelpText().c_str(), stdout);
        return cli::kExitOk;
    }
    if (options->version) {
        std::fputs(cli::VersionText().c_str(), stdout);
        return cli::kExitOk;
    }
    const auto library = cli::QuorbitLibrary::Find(options->library, &error);
    if (!library) {
        std::fprintf(stderr, "quorbit-cli: %s\n", error.c_str());
        return cli::kExitNoLibrary;
    }
    cli::InstallInterruptCleanup();

    const bool terminal = isatty(STDERR_FILENO) == 1;
    cli::ProgressBar& bar = cli::ProgressBar::Instance();
    bar.SetOutput(terminal && !options->quiet ? stderr : nullptr);
    library->api().SetProcessFunc(&cli::ProgressBar::StepCallback,
                                  &cli::ProgressBar::BeginCallback);

    cli::CommandContext ctx{library->api(), std::move(*options)};
    ctx.io.interactive = terminal && isatty(STDIN_FILENO) == 1;
    ctx.progress = &bar;
    const int status = cli::RunCommand(ctx);
    std::fflush(stdout);
    return status;
}
