// qxupdater-cli erase: the ATA secure erase of the asked drives, with the password from a
// file or standard input.
#include <algorithm>
#include <fstream>

#include "cli/Program.h"
#include "platform/Utf8Path.h"
#include "platform/Wipe.h"
#include "update/SecureErase.h"

namespace qx::cli::detail {

Outcome Program::readPassword(std::string& password) {
    password.clear();
    if (request_.passwordStdin) {
        const LineRead read = host_.readSecretLine ? host_.readSecretLine(password)
                                                   : ReadBoundedLine(io_.in, password, kMaxPasswordBytes);
        if (read == LineRead::TooLong) {
            return {kExitUsage, "the password on standard input is longer than 4096 bytes: nothing was sent"};
        }
        if (read == LineRead::End) WipeString(password);
    } else {
        std::ifstream f(Utf8Path(request_.passwordFile), std::ios::binary);
        if (!f.is_open()) return {kExitUsage, "cannot read the password file '" + request_.passwordFile + "'"};
        std::string text(kMaxPasswordBytes + 1, '\0');
        f.read(text.data(), static_cast<std::streamsize>(text.size()));
        const auto got = static_cast<size_t>(f.gcount());
        if (got > kMaxPasswordBytes) {
            WipeString(text);
            return {kExitUsage, "the password file is larger than 4096 bytes"};
        }
        const size_t end = std::min(got, text.find('\n'));
        password.assign(text.data(), end);
        WipeString(text);
    }
    if (!password.empty() && password.back() == '\r') password.pop_back();
    if (password.empty()) return {kExitUsage, "no password: nothing was sent"};
    return {};
}

Outcome Program::erase() {
    std::vector<int> rows;
    Outcome o = resolveDisks(request_.disks, drives_, rows);
    if (o.code != kExitOk) return o;
    o = confirmDrives(rows, "erase");
    if (o.code != kExitOk) return o;
    std::string password;
    o = readPassword(password);
    if (o.code != kExitOk) {
        WipeString(password);
        return o;
    }
    user_->setSecret(password);
    WipeString(password);
    for (auto& r : user_->rows()) r.checked = false;
    for (int row : rows) user_->rows()[static_cast<size_t>(row)].checked = true;
    SecureEraseBtnClick(state_, *user_);
    user_->setSecret("");
    return finishDriveAction(rows, "the secure erase of at least one drive failed");
}

}  // namespace qx::cli::detail
