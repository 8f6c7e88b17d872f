// qxupdater-cli: the one JSON document a run writes on standard output (docs/cli.md).
#include <ostream>

#include "cli/Program.h"

namespace qx::cli::detail {

namespace {

std::string dumpJson(const Json& j) {
    // Texts from a drive may hold any bytes: invalid UTF-8 is replaced, never thrown on.
    return j.dump(2, ' ', false, Json::error_handler_t::replace);
}

}  // namespace

Json Program::document() const {
    Json j;
    j["schema"] = kSchema;
    j["version"] = kVersionText;
    j["command"] = request_.command;
    return j;
}

void Program::emit(const Json& j) {
    io_.out << dumpJson(j) << "\n";
    emitted_ = true;
}

}  // namespace qx::cli::detail
