// qxupdater-cli entry: the process's streams, environment and power-off around runCli.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "platform/Wipe.h"

#if defined(_WIN32)
#include <io.h>
#include <windows.h>

#include "platform/windows/WinKernel.h"
#else
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "platform/linux/LinuxKernel.h"
#endif

namespace {

bool isTerminal(int fd) {
#if defined(_WIN32)
    return _isatty(fd) != 0;
#else
    return isatty(fd) == 1;
#endif
}

// One line of standard input; on a terminal without echo, so a typed password stays unseen.
qx::cli::LineRead readSecretLine(std::string& line) {
#if defined(_WIN32)
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    const bool console = GetConsoleMode(in, &mode) != 0;
    if (console) {
        std::fputs("Password: ", stderr);
        SetConsoleMode(in, mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
    }
    const qx::cli::LineRead read = qx::cli::ReadBoundedLine(std::cin, line, qx::cli::kMaxPasswordBytes);
    if (console) {
        SetConsoleMode(in, mode);
        std::fputs("\n", stderr);
    }
    return read;
#else
    termios saved{};
    const bool tty = isatty(STDIN_FILENO) == 1 && tcgetattr(STDIN_FILENO, &saved) == 0;
    if (tty) {
        std::fputs("Password: ", stderr);
        termios quiet = saved;
        quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    const qx::cli::LineRead read = qx::cli::ReadBoundedLine(std::cin, line, qx::cli::kMaxPasswordBytes);
    if (tty) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fputs("\n", stderr);
    }
    return read;
#endif
}

#if !defined(_WIN32)
// Power-off through the service manager; 1 when the request was accepted.
int powerOffThroughSystemd() {
    const pid_t child = fork();
    if (child < 0) return 0;
    if (child == 0) {
        execlp("systemctl", "systemctl", "poweroff", static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child) return 0;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 1 : 0;
}
#endif

}  // namespace

int main(int argc, char** argv) {
#if defined(_WIN32)
    // Before anything else loads a DLL: system DLLs from the system folder only.
    qx::RestrictDllSearchToSystem32();
#endif
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        args.emplace_back(argv[i]);
        // A password given as an argument (refused) is blanked in the process's own
        // arguments at once, so it shows no longer in the process list.
        const bool separate = std::strcmp(argv[i], "--password") == 0;
        if (std::strncmp(argv[i], "--password=", 11) == 0) {
            std::memset(argv[i] + 11, 'x', std::strlen(argv[i] + 11));
        } else if (separate && i + 1 < argc) {
            args.emplace_back(argv[i + 1]);
            std::memset(argv[i + 1], 'x', std::strlen(argv[i + 1]));
            ++i;
        }
    }

    qx::cli::Streams streams{std::cin, std::cout, std::cerr, isTerminal(0), isTerminal(2)};
    qx::cli::Host host;
    host.getenv = [](const char* name) -> const char* { return std::getenv(name); };
    host.readSecretLine = &readSecretLine;
#if defined(_WIN32)
    host.executablePath = qx::WinKernel().executablePath();
#else
    host.executablePath = qx::LinuxKernel().executablePath();
    host.powerOff = &powerOffThroughSystemd;
#endif
    const int code = qx::cli::runCli(args, streams, host);
    for (std::string& a : args) qx::WipeBytes(a.data(), a.size());
    std::cout.flush();
    return code;
}
