// qxupdater-cli inside: what the files of the program share (not part of Cli.h). Program is
// one run of the command line; its steps live in files by concern: Arguments.cpp (the
// command line and the checks before a drive is touched), Session.cpp (the back-end, the
// scan and the choice of drives), Json.cpp (the JSON document of a run), one *Command.cpp
// per subcommand, and Cli.cpp (the run from start to end).
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/core/MainState.h"
#include "app/core/UserSeam.h"
#include "cli/Cli.h"
#include "cli/CliBackend.h"
#include "cli/TerminalUser.h"
#include "devices/DeviceLock.h"
#include "update/Update.h"

namespace qx::cli::detail {

using Json = nlohmann::ordered_json;

constexpr int kSchema = 1;
constexpr const char* kProgram = "qxupdater-cli";

// One failure that ends the run: the exit code and its one-line message.
struct Outcome {
    int code = kExitOk;
    std::string message;
};

// What the command line asked for.
struct Request {
    std::string command;  // "list", "explain", "smart", "update", "erase", "package inspect"
    bool json = false;
    std::string devices;
    bool devicesGiven = false;
    double waitSeconds = 0;  // --wait: for another process's hold of the drives
    std::vector<std::string> disks;
    bool all = false;
    std::string package;
    std::string image;
    std::string revision;
    bool revisionGiven = false;
    bool yes = false;
    bool powerOff = false;
    bool skipCurrent = false;
    std::string passwordFile;
    bool passwordStdin = false;
    std::string passwordArgument;  // never used, never shown: its presence is a refusal
    bool passwordArgumentGiven = false;
    std::string file;              // package inspect
};

// The drives of one scan.
struct Drive {
    int disk = 0;  // caption: index + 1
    DriveRow row;
    std::string path;
    int32_t busKind = 0;
    std::string bus;
    std::string letter;  // "" or "E"
};

// "DEVICE_IDE", "DEVICE_SCSI", "DEVICE_USB" or "none".
const char* busKindName(int32_t kind);
// Without the spaces around it.
std::string trim(const std::string& s);

// Finds the drives a list of DISK arguments names. Exit 3 for one that names no drive, 2
// for a serial number that more than one drive carries.
Outcome resolveDisks(const std::vector<std::string>& args, const std::vector<Drive>& drives,
                     std::vector<int>& rows);

class Program {
public:
    Program(Streams& io, const Host& host) : io_(io), host_(host) {}

    int run(const std::vector<std::string>& args);

private:
    Outcome parse(const std::vector<std::string>& args, bool& helpShown);
    Outcome checkInputs();
    Outcome openBackend();
    Outcome scan();
    Outcome confirmDrives(const std::vector<int>& rows, const char* action);
    Outcome readPassword(std::string& password);

    Outcome list();
    Outcome explain();
    Outcome smart();
    Outcome update();
    Outcome erase();
    Outcome inspectPackage();

    Outcome finishDriveAction(const std::vector<int>& rows, const char* failedText);
    OutcomeReason reasonOf(const TerminalRow& row, const std::string& status) const;
    void emit(const Json& j);
    Json document() const;
    const char* env(const char* name) const {
        const char* v = host_.getenv ? host_.getenv(name) : nullptr;
        return v != nullptr && *v != '\0' ? v : nullptr;
    }

    Streams& io_;
    const Host& host_;
    Request request_;
    std::unique_ptr<CliBackend> backend_;
    MainState state_;
    std::unique_ptr<TerminalUser> user_;
    std::vector<Drive> drives_;
    bool emitted_ = false;  // one document per run: an error after it goes to standard error only
    std::map<int, DriveAfterUpdate> afterUpdate_;  // the read-back of every drive that passed
    std::unique_ptr<DeviceHold> hold_;  // the device lock of the run; goes before the back-end
};

}  // namespace qx::cli::detail
