// qxupdater-cli explain: every candidate disk of the scan, listed or not, and why.
#include <cstdint>

#include "cli/Program.h"
#include "devices/Scan.h"
#include "platform/TraceCodec.h"

namespace qx::cli::detail {

namespace {

// Printable ASCII of a fixed field, other bytes as '.'.
std::string printable(const uint8_t* p, size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s.push_back(p[i] >= 0x20 && p[i] < 0x7F ? static_cast<char>(p[i]) : '.');
    return s;
}

std::string reasonText(const CandidateNote& n) {
    if (n.reason == "listed") return "listed as disk " + std::to_string(n.disk);
    if (n.reason == "no-bus-kind") return "the path names no known bus (ide, scsi, usb, sbp2)";
    if (n.reason == "rotating") {
        return "IDENTIFY reports a rotating disk (rotation rate " + std::to_string(n.rotationRate) + ")";
    }
    if (n.reason == "identify-failed") return "IDENTIFY DEVICE failed";
    if (n.reason == "no-vendor-answer") {
        return "no vendor answer after " + std::to_string(n.probeRounds) +
               " vendor-mode rounds: not the maker's controller";
    }
    if (n.reason == "inquiry-failed") return "INQUIRY failed";
    if (n.reason == "unknown-bridge-code") {
        return "INQUIRY code '" + printable(n.inquiryCode.data(), 4) + "' is none of the maker's bridges";
    }
    if (n.reason == "vendor-usb-device") {
        return "INQUIRY code '" + printable(n.inquiryCode.data(), 4) +
               "' (class 10) is a device of the vendor protocol over USB, not a bridge";
    }
    if (n.reason == "bridge-identify-failed") return "IDENTIFY DEVICE through the bridge failed";
    if (n.reason == "drive-table-full") return "the drive table is full (16 drives)";
    return n.reason;
}

}  // namespace

Outcome Program::explain() {
    const auto& notes = user_->notes();
    if (request_.json) {
        Json j = document();
        j["candidates"] = Json::array();
        for (const CandidateNote& n : notes) {
            Json c;
            c["position"] = n.position;
            c["path"] = n.path;
            c["busKind"] = busKindName(n.busKind);
            c["bus"] = trim(n.busName);
            c["listed"] = n.listed;
            c["disk"] = n.listed ? Json(n.disk) : Json(nullptr);
            c["reason"] = n.reason;
            c["explanation"] = reasonText(n);
            if (n.probed) {
                Json answers = Json::array();
                for (size_t i = 0; i < n.probeAnswers.size(); ++i) {
                    const bool read = i < n.probeReadOk.size() && n.probeReadOk[i];
                    answers.push_back({{"read", read},
                                       {"bytes", HexText(n.probeAnswers[i].data(), 4)}});
                }
                c["identify"] = {{"ok", n.identifyOk}, {"rotationRate", n.rotationRate}};
                c["probe"] = {{"rounds", n.probeRounds}, {"answers", answers}};
            }
            if (n.inquiryAsked) {
                c["inquiry"] = {{"ok", n.inquiryOk},
                                {"code", printable(n.inquiryCode.data(), 4)},
                                {"codeHex", HexText(n.inquiryCode.data(), 4)},
                                {"class", n.bridgeClass}};
            }
            if (n.bridgeIdentifyAsked) c["bridgeIdentify"] = {{"ok", n.bridgeIdentifyOk}};
            j["candidates"].push_back(c);
        }
        emit(j);
        return {};
    }
    for (const CandidateNote& n : notes) {
        io_.out << "Candidate " << n.position << ": " << n.path << "\n";
        io_.out << "  bus: " << busKindName(n.busKind);
        if (!trim(n.busName).empty()) io_.out << " (" << trim(n.busName) << ")";
        io_.out << "\n";
        if (n.probed) {
            io_.out << "  IDENTIFY: " << (n.identifyOk ? "answered" : "failed")
                    << ", rotation rate " << n.rotationRate << "\n";
            for (size_t i = 0; i < n.probeAnswers.size(); ++i) {
                const bool read = i < n.probeReadOk.size() && n.probeReadOk[i];
                io_.out << "  vendor-mode round " << i + 1 << ": "
                        << (read ? "answer " + HexText(n.probeAnswers[i].data(), 4)
                                 : std::string("answer sector not read"))
                        << "\n";
            }
        }
        if (n.inquiryAsked) {
            io_.out << "  INQUIRY: " << (n.inquiryOk ? "answered" : "failed") << ", code '"
                    << printable(n.inquiryCode.data(), 4) << "', class " << n.bridgeClass << "\n";
        }
        if (n.bridgeIdentifyAsked) {
            io_.out << "  IDENTIFY through the bridge: "
                    << (n.bridgeIdentifyOk ? "answered" : "failed") << "\n";
        }
        io_.out << "  " << (n.listed ? "" : "passed over: ") << reasonText(n) << "\n";
    }
    if (notes.empty()) io_.out << "(no disk interface found)\n";
    return {};
}

}  // namespace qx::cli::detail
