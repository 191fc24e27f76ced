// quorbit-cli: a host program for libquorbit.so, loaded at run time.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tools/cli/commands.h"
#include "tools/cli/doctor_options.h"
#include "tools/cli/image_card.h"
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
    // A card image takes the camera's place for the card library's code
    // linked into this program; so do the card doctor's commands, which need
    // more than the library's exports. The rest loads libquorbit.so.
    std::unique_ptr<cli::ImageCard> image;
    std::unique_ptr<cli::QuorbitLibrary> library;
    const cli::QuorbitApi* api = &cli::LinkedLibraryApi();
    if (!options->image.empty()) {
        image = cli::ImageCard::Open(options->image, options->geometry, cli::ChangesCard(*options),
                                     &error);
        if (!image) {
            std::fprintf(stderr, "quorbit-cli: %s\n", error.c_str());
            return cli::kExitFailed;
        }
    } else if (cli::NeedsLibrary(*options)) {
        library = cli::QuorbitLibrary::Find(options->library, &error);
        if (!library) {
            std::fprintf(stderr, "quorbit-cli: %s\n", error.c_str());
            return cli::kExitNoLibrary;
        }
        api = &library->api();
    }
    cli::InstallInterruptCleanup();

    const bool terminal = isatty(STDERR_FILENO) == 1;
    cli::ProgressBar& bar = cli::ProgressBar::Instance();
    bar.SetOutput(terminal && !options->quiet ? stderr : nullptr);
    api->SetProcessFunc(&cli::ProgressBar::StepCallback, &cli::ProgressBar::BeginCallback);

    cli::CommandContext ctx{*api, std::move(*options)};
    ctx.image = image.get();
    ctx.io.interactive = terminal && isatty(STDIN_FILENO) == 1;
    ctx.progress = &bar;
    const int status = cli::RunCommand(ctx);
    std::fflush(stdout);
    return status;
}
