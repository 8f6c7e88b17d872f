// qxupdater-cli: one run from the arguments to the exit code (Cli.h); the steps are in the
// files Program.h names.
#include "cli/Cli.h"

#include <exception>
#include <istream>
#include <memory>

#include "cli/Program.h"
#include "platform/Platform.h"
#include "platform/Wipe.h"

namespace qx::cli {

namespace detail {

int Program::run(const std::vector<std::string>& args) {
    bool helpShown = false;
    Outcome o = parse(args, helpShown);
    if (helpShown) return kExitOk;
    const auto fail = [&](const Outcome& failure) {
        if (request_.json && !request_.command.empty() && !emitted_) {
            Json j = document();
            j["error"] = failure.message;
            j["exitCode"] = failure.code;
            emit(j);
        }
        io_.err << kProgram << ": " << failure.message << "\n";
        return failure.code;
    };
    if (o.code != kExitOk) return fail(o);
    if (request_.command == "package inspect") {
        o = inspectPackage();
        return o.code == kExitOk ? kExitOk : fail(o);
    }

    // The inputs are checked before the back-end opens: a refusal sends nothing to a drive.
    const Platform previous = platform();
    struct Restore {
        Platform p;
        ~Restore() { installPlatform(p); }
    } restore{previous};
    o = checkInputs();
    if (o.code != kExitOk) return fail(o);
    o = openBackend();
    if (o.code != kExitOk) {
        const int code = fail(o);
        if (backend_ && host_.onFinish) host_.onFinish(backend_->host());
        return code;
    }

    const bool echoLog = request_.command == "update" || request_.command == "erase";
    user_ = std::make_unique<TerminalUser>(io_.err, io_.errIsTerminal, echoLog);
    state_.caption = StartTitle();
    state_.appTitle = state_.caption;
    o = scan();
    if (o.code == kExitOk) {
        if (request_.command == "list") o = list();
        else if (request_.command == "explain") o = explain();
        else if (request_.command == "smart") o = smart();
        else if (request_.command == "update") o = update();
        else if (request_.command == "erase") o = erase();
    }
    const int code = o.code == kExitOk ? kExitOk : fail(o);
    if (host_.onFinish) host_.onFinish(backend_->host());
    hold_.reset();
    user_.reset();
    backend_.reset();
    return code;
}

}  // namespace detail

LineRead ReadBoundedLine(std::istream& in, std::string& line, size_t max) {
    WipeString(line);
    line.reserve(max + 1);
    bool any = false;
    for (;;) {
        const int c = in.get();
        if (c == std::char_traits<char>::eof()) return any ? LineRead::Ok : LineRead::End;
        any = true;
        if (c == '\n') return LineRead::Ok;
        if (line.size() >= max) {
            WipeString(line);
            return LineRead::TooLong;
        }
        line.push_back(static_cast<char>(c));
    }
}

int runCli(const std::vector<std::string>& args, Streams& streams, const Host& host) {
    try {
        detail::Program program(streams, host);
        return program.run(args);
    } catch (const std::exception& e) {
        streams.err << detail::kProgram << ": " << e.what() << "\n";
        return kExitUsage;
    }
}

}  // namespace qx::cli
