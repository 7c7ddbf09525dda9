// nasscout-cli: the NAS search without a window, for scripts, servers and
// terminals.
#include "cli_options.h"
#include "search_runs.h"
#include "src/port67/port67_handover.h"
#include "src/store/device_store.h"
#include "tools/common/option_error.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// Standard output is for results only, but the engine echoes its log lines
// there and the device store prints a line for every report. They get
// standard error (with --verbose, else nothing) and the results keep a private
// descriptor on the real standard output. Must run before anything is
// written to stdout.
std::FILE* TakeStandardOutput(bool verbose, std::string& error)
{
    const int resultsFd = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    if (resultsFd < 0) {
        error = std::string("cannot use standard output: ") + std::strerror(errno);
        return nullptr;
    }
    const int diagnostics = verbose ? STDERR_FILENO : open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (diagnostics < 0 || dup2(diagnostics, STDOUT_FILENO) < 0) {
        error = std::string("cannot move the diagnostic lines off standard output: ") + std::strerror(errno);
        close(resultsFd);
        return nullptr;
    }
    if (!verbose) close(diagnostics);
    // Diagnostic lines should interleave with the progress line as they happen.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::FILE* results = fdopen(resultsFd, "w");
    if (results == nullptr) error = std::string("cannot use standard output: ") + std::strerror(errno);
    return results;
}

}  // namespace

int main(int argc, char** argv)
{
    RunThroughPort67Helper(argv, "nasscout-cli");
    // A reader that goes away (`nasscout-cli | head -1`) makes the next write
    // fail, and the program ends with status 1 as for any failed write.
    std::signal(SIGPIPE, SIG_IGN);
    cli::CliOptions options;
    std::string message;
    switch (cli::ParseOptions(argc, argv, options, message)) {
    case cli::OptionsResult::Help:
    case cli::OptionsResult::Version:
        std::fputs(message.c_str(), stdout);
        return 0;
    case cli::OptionsResult::Error:
        return tools::ReportOptionError("nasscout-cli", message);
    case cli::OptionsResult::Run:
        break;
    }

    std::FILE* results = TakeStandardOutput(options.verbose, message);
    if (results == nullptr) {
        std::fprintf(stderr, "nasscout-cli: %s\n", message.c_str());
        return 1;
    }
    int status = options.watch ? cli::RunWatch(options, results) : cli::RunSearch(options, results);
    FlushVendorLines(kLastVendorLinesWait);
    const bool written = std::fflush(results) == 0 && !std::ferror(results);
    if (std::fclose(results) != 0 || !written) {
        std::fprintf(stderr, "nasscout-cli: cannot write the results to standard output: %s\n", std::strerror(errno));
        status = 1;
    }
    return status;
}
