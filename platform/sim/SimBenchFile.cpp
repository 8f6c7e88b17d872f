// The bench file parser and the built-in demo bench (format: docs/bench-file.md).
//
// A bench file comes from outside: every line, value and count is bounded, and every
// error names its line.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <set>

#include "platform/Ascii.h"
#include "platform/sim/SimBench.h"

namespace qx::sim {

namespace {

constexpr size_t kMaxText = 1 << 20;
constexpr size_t kMaxLine = 8192;
constexpr size_t kMaxDisks = 256;
constexpr size_t kMaxFaults = 64;
constexpr size_t kMaxPath = 4096;

std::string trim(const std::string& s) {
    const size_t a = s.find_first_not_of(" \t");
    if (a == std::string::npos) return {};
    const size_t b = s.find_last_not_of(" \t");
    return s.substr(a, b - a + 1);
}

std::vector<std::string> words(const std::string& s) {
    std::vector<std::string> out;
    // Split at white space as the C locale knows it.
    size_t i = 0;
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; };
    while (i < s.size()) {
        while (i < s.size() && space(s[i])) ++i;
        const size_t start = i;
        while (i < s.size() && !space(s[i])) ++i;
        if (i > start) out.push_back(s.substr(start, i - start));
    }
    return out;
}

// Unsigned number, decimal or 0x-hexadecimal, at most `max`.
bool parseNumber(const std::string& s, uint64_t max, uint64_t& out, int base = 0) {
    if (s.empty()) return false;
    size_t i = 0;
    int b = base == 0 ? 10 : base;
    if (base == 0 && s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        b = 16;
        i = 2;
    }
    if (i >= s.size()) return false;
    uint64_t v = 0;
    for (; i < s.size(); ++i) {
        const int d = HexDigitValue(s[i]);
        if (d < 0 || d >= b) return false;
        if (v > (max - static_cast<uint64_t>(d)) / static_cast<uint64_t>(b)) return false;
        v = v * static_cast<uint64_t>(b) + static_cast<uint64_t>(d);
    }
    out = v;
    return true;
}

bool parseHex(std::string s, uint64_t max, uint64_t& out) {
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s = s.substr(2);
    return parseNumber(s, max, out, 16);
}

bool parseBool(const std::string& s, bool& out) {
    const std::string v = LowerAscii(s);
    if (v == "yes" || v == "true" || v == "1" || v == "on") {
        out = true;
        return true;
    }
    if (v == "no" || v == "false" || v == "0" || v == "off") {
        out = false;
        return true;
    }
    return false;
}

bool validFaultKey(const std::string& k) {
    uint64_t v = 0;
    if (k == "open" || k == "devnum" || k == "vendor-write" || k == "vendor-read" || k == "call") {
        return true;
    }
    for (const char* prefix : {"scsi:", "smart:", "vendor:"}) {
        const size_t n = std::strlen(prefix);
        if (k.compare(0, n, prefix) == 0) return k.size() == n + 2 && parseHex(k.substr(n), 0xFF, v);
    }
    if (k.compare(0, 4, "ata:") == 0) {
        if (k.size() == 6) return parseHex(k.substr(4), 0xFF, v);
        return k.size() == 9 && k[6] == '/' && parseHex(k.substr(4, 2), 0xFF, v) &&
               parseHex(k.substr(7), 0xFF, v);
    }
    return false;
}

class Parser {
public:
    Parser(SimBenchSpec& setup, std::string& error) : spec_(setup), error_(error) {}

    bool run(const std::string& text) {
        if (text.size() > kMaxText) return fail(0, "bench text is larger than 1 MiB");
        size_t pos = 0;
        size_t lineNo = 0;
        while (pos <= text.size()) {
            size_t end = text.find('\n', pos);
            if (end == std::string::npos) end = text.size();
            ++lineNo;
            std::string line = text.substr(pos, end - pos);
            pos = end + 1;
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.size() > kMaxLine) return fail(lineNo, "line longer than 8192 characters");
            for (const char byte : line) {
                const auto c = static_cast<unsigned char>(byte);
                if ((c < 0x20 && c != '\t') || c == 0x7F) return fail(lineNo, "control character in line");
            }
            if (!handle(lineNo, trim(line))) return false;
            if (end == text.size()) break;
        }
        return closeDisk();
    }

private:
    bool fail(size_t line, const std::string& what) {
        error_ = line == 0 ? what : "line " + std::to_string(line) + ": " + what;
        return false;
    }

    bool handle(size_t n, const std::string& line) {
        if (line.empty() || line[0] == '#' || line[0] == ';') return true;
        if (line[0] == '[') {
            if (line.back() != ']') return fail(n, "section header without ']'");
            const std::string name = LowerAscii(trim(line.substr(1, line.size() - 2)));
            if (!closeDisk()) return false;
            if (name == "system") {
                if (sawSystem_) return fail(n, "second [system] section");
                if (!spec_.disks.empty()) return fail(n, "[system] must come before the disks");
                sawSystem_ = true;
                section_ = Section::System;
            } else if (name == "disk") {
                if (spec_.disks.size() >= kMaxDisks) return fail(n, "more than 256 disks");
                spec_.disks.emplace_back();
                section_ = Section::Disk;
                diskLine_ = n;
                rotationGiven_ = false;
            } else {
                return fail(n, "unknown section [" + name + "]");
            }
            keys_.clear();
            return true;
        }
        const size_t eq = line.find('=');
        if (eq == std::string::npos) return fail(n, "expected 'key = value'");
        const std::string key = LowerAscii(trim(line.substr(0, eq)));
        std::string value = trim(line.substr(eq + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
            value = value.substr(1, value.size() - 2);
        }
        if (key.empty()) return fail(n, "empty key");
        if (section_ == Section::None) return fail(n, "key '" + key + "' outside a section");
        if (key != "fault" && !keys_.insert(key).second) return fail(n, "duplicate key '" + key + "'");
        return section_ == Section::System ? systemKey(n, key, value) : diskKey(n, key, value);
    }

    bool systemKey(size_t n, const std::string& key, const std::string& v) {
        uint64_t x = 0;
        if (key == "os") {
            const size_t dot = v.find('.');
            uint64_t major = 0, minor = 0;
            if (dot == std::string::npos || !parseNumber(v.substr(0, dot), 255, major) ||
                !parseNumber(v.substr(dot + 1), 255, minor)) {
                return fail(n, "os must be MAJOR.MINOR, e.g. 6.1");
            }
            spec_.os.major = static_cast<uint32_t>(major);
            spec_.os.minor = static_cast<uint32_t>(minor);
        } else if (key == "service-pack") {
            if (!parseNumber(v, 0xFFFF, x)) return fail(n, "service-pack must be a number");
            spec_.os.servicePackMajor = static_cast<uint16_t>(x);
        } else if (key == "os-extended") {
            if (!parseBool(v, spec_.os.extendedOk)) return fail(n, "os-extended must be yes or no");
        } else if (key == "os-basic") {
            if (!parseBool(v, spec_.os.basicOk)) return fail(n, "os-basic must be yes or no");
        } else if (key == "system-letter") {
            if (v.size() != 1 || !std::isalpha(static_cast<unsigned char>(v[0]))) {
                return fail(n, "system-letter must be one letter");
            }
            spec_.systemLetter = UpperAscii(v[0]);
        } else if (key == "enumeration") {
            const std::string l = LowerAscii(v);
            if (l != "ok" && l != "fails") return fail(n, "enumeration must be ok or fails");
            spec_.enumerationFails = l == "fails";
        } else if (key == "rescan") {
            const std::string l = LowerAscii(v);
            if (l == "ok") spec_.rescanFailsAt = 0;
            else if (l == "locate-fails") spec_.rescanFailsAt = 1;
            else if (l == "reenumerate-fails") spec_.rescanFailsAt = 2;
            else return fail(n, "rescan must be ok, locate-fails or reenumerate-fails");
        } else if (key == "ac-power") {
            if (!parseBool(v, spec_.acPower)) return fail(n, "ac-power must be yes or no");
        } else if (key == "battery") {
            if (!parseNumber(v, 100, x)) return fail(n, "battery must be a percentage from 0 to 100");
            spec_.batteryPercent = static_cast<int>(x);
        } else if (key == "security-freeze-at-start") {
            if (!parseBool(v, spec_.securityFreezeAtStart)) {
                return fail(n, "security-freeze-at-start must be yes or no");
            }
        } else if (key == "system") {
            const std::string l = LowerAscii(v);
            if (l != "windows" && l != "linux") return fail(n, "system must be windows or linux");
            spec_.windows = l == "windows";
        } else if (key == "executable") {
            if (v.size() > kMaxPath) return fail(n, "executable path too long");
            spec_.executablePath = v;
        } else if (key == "executable-size") {
            if (!parseNumber(v, 0x7FFFFFFFFFFFull, x)) return fail(n, "executable-size must be a number");
            spec_.executableSize = static_cast<int64_t>(x);
        } else if (key == "elevated") {
            if (!parseBool(v, spec_.elevated)) return fail(n, "elevated must be yes or no");
        } else if (key == "scsi-ata12") {
            if (!parseBool(v, spec_.scsiAta12)) return fail(n, "scsi-ata12 must be yes or no");
        } else {
            return fail(n, "unknown key '" + key + "' in [system]");
        }
        return true;
    }

    bool text(size_t n, const std::string& key, const std::string& v, size_t max, std::string& out) {
        if (v.size() > max) {
            return fail(n, key + " longer than " + std::to_string(max) + " characters");
        }
        out = v;
        return true;
    }

    bool diskKey(size_t n, const std::string& key, const std::string& v) {
        SimDiskSpec& d = spec_.disks.back();
        SimDriveSpec& r = d.drive;
        uint64_t x = 0;
        if (key == "path") {
            if (v.empty()) return fail(n, "empty path");
            return text(n, key, v, kMaxPath, d.path);
        }
        if (key == "bus") {
            const std::string l = LowerAscii(v);
            if (l == "ide") d.bus = SimBus::Ide;
            else if (l == "scsi") d.bus = SimBus::Scsi;
            else if (l == "usb") d.bus = SimBus::Usb;
            else if (l == "sbp2") d.bus = SimBus::Sbp2;
            else if (l == "other") d.bus = SimBus::Other;
            else return fail(n, "bus must be ide, scsi, usb, sbp2 or other");
            return true;
        }
        if (key == "drive") {
            const std::string l = LowerAscii(v);
            d.hasDrive = l != "none";
            if (l == "maker") r.controller = ControllerKind::Maker;
            else if (l == "foreign") r.controller = ControllerKind::Foreign;
            else if (l == "harddisk") r.controller = ControllerKind::HardDisk;
            else if (l != "none") return fail(n, "drive must be maker, foreign, harddisk or none");
            return true;
        }
        if (key == "model") return text(n, key, v, 40, r.model);
        if (key == "serial") return text(n, key, v, 20, r.serial);
        if (key == "firmware") return text(n, key, v, 8, r.firmware);
        if (key == "new-firmware") {
            const std::string l = LowerAscii(v);
            if (l == "at-once") r.newFirmwareAtOnce = true;
            else if (l == "after-power-cycle") r.newFirmwareAtOnce = false;
            else return fail(n, "new-firmware must be at-once or after-power-cycle");
            return true;
        }
        if (key == "master-password") return text(n, key, v, 32, r.masterPassword);
        if (key == "sectors") {
            if (!parseNumber(v, 0xFFFFFFFFFFFFull, x)) return fail(n, "sectors must be a number below 2^48");
            r.sectors48 = x;
            r.sectors28 = static_cast<uint32_t>(std::min<uint64_t>(x, 0x0FFFFFFF));
            return true;
        }
        if (key == "sectors28") {
            if (!parseNumber(v, 0xFFFFFFFF, x)) return fail(n, "sectors28 must be a 32-bit number");
            r.sectors28 = static_cast<uint32_t>(x);
            return true;
        }
        if (key == "sectors48") {
            if (!parseNumber(v, 0xFFFFFFFFFFFFFFFFull, x)) return fail(n, "sectors48 must be a 64-bit number");
            r.sectors48 = x;
            return true;
        }
        if (key == "rotation") {
            if (!parseNumber(v, 0xFFFF, x)) return fail(n, "rotation must be a 16-bit number");
            r.rotationRate = static_cast<uint16_t>(x);
            rotationGiven_ = true;
            return true;
        }
        if (key == "wwn") {
            const auto w = words(v);
            if (w.size() != 4) return fail(n, "wwn must be four hexadecimal words");
            for (size_t i = 0; i < 4; ++i) {
                if (!parseHex(w[i], 0xFFFF, x)) return fail(n, "wwn must be four hexadecimal words");
                r.wwn[i] = static_cast<uint16_t>(x);
            }
            return true;
        }
        if (key == "buildinfo") {
            if (v.size() > 63) return fail(n, "buildinfo longer than 63 characters");
            const uint8_t option = r.buildInfo[63];
            r.buildInfo = makeBuildInfo(v, option);
            return true;
        }
        if (key == "buildinfo-option") {
            if (!parseNumber(v, 0xFF, x)) return fail(n, "buildinfo-option must be a byte");
            r.buildInfo[63] = static_cast<uint8_t>(x);
            return true;
        }
        if (key == "page-size-code") {
            if (!parseNumber(v, 7, x)) return fail(n, "page-size-code must be 0 to 7");
            r.pageSizeCode = static_cast<uint8_t>(x);
            return true;
        }
        if (key == "system-blocks") {
            const auto w = words(v);
            if (w.size() != 4) return fail(n, "system-blocks must be four numbers");
            for (size_t i = 0; i < 4; ++i) {
                if (!parseNumber(w[i], 0xFFFF, x)) return fail(n, "system-blocks must be four 16-bit numbers");
                r.systemBlocks[i] = static_cast<uint16_t>(x);
            }
            return true;
        }
        if (key == "signature-block") {
            if (LowerAscii(v) == "none") {
                r.signatureBlock = -1;
                return true;
            }
            if (!parseNumber(v, 3, x)) return fail(n, "signature-block must be 0 to 3 or none");
            r.signatureBlock = static_cast<int>(x);
            return true;
        }
        if (key == "security") {
            if (!parseBool(v, r.securitySupported)) return fail(n, "security must be yes or no");
            return true;
        }
        if (key == "security-attempts-expired") {
            if (!parseBool(v, r.securityAttemptsExpired)) {
                return fail(n, "security-attempts-expired must be yes or no");
            }
            return true;
        }
        if (key == "erase-estimate") {
            // Minutes, in the units of 2 minutes of word 89: the normal format up to 508
            // minutes, the extended one (bit 15) above.
            if (!parseNumber(v, 65534, x)) return fail(n, "erase-estimate must be 0 to 65534 minutes");
            const uint64_t units = (x + 1) / 2;
            r.eraseTimeWord = static_cast<uint16_t>(units <= 254 ? units : (0x8000 | units));
            return true;
        }
        if (key == "erase-ms") {
            if (!parseNumber(v, 86400000, x)) return fail(n, "erase-ms must be 0 to 86400000");
            r.eraseMs = static_cast<uint32_t>(x);
            return true;
        }
        if (key == "security-frozen") {
            if (!parseBool(v, r.securityFrozen)) return fail(n, "security-frozen must be yes or no");
            return true;
        }
        if (key == "smart" || key == "smart-thresholds") {
            const auto w = words(v);
            if (w.size() > 30) return fail(n, key + " holds more than 30 attributes");
            std::vector<SmartEntry> entries;
            std::vector<std::pair<uint8_t, uint8_t>> thresholds;
            for (const auto& item : w) {
                const size_t colon = item.find(':');
                uint64_t id = 0, raw = 0;
                if (colon == std::string::npos || !parseNumber(item.substr(0, colon), 255, id) ||
                    id == 0) {
                    return fail(n, key + " entries must be ID:HEX with ID 1 to 255");
                }
                const uint64_t max = key == "smart" ? 0xFFFFFFFFFFFFull : 0xFF;
                if (!parseHex(item.substr(colon + 1), max, raw)) {
                    return fail(n, key == "smart" ? "smart raw value must be at most 12 hex digits"
                                                  : "threshold must be one hex byte");
                }
                entries.push_back({static_cast<uint8_t>(id), raw, 100, 100});
                thresholds.emplace_back(static_cast<uint8_t>(id), static_cast<uint8_t>(raw));
            }
            if (key == "smart") r.smartData = makeSmartData(entries);
            else r.smartThresholds = makeSmartThresholds(thresholds);
            return true;
        }
        if (key == "inquiry-code") {
            if (LowerAscii(v).rfind("hex:", 0) == 0) {
                const std::string h = v.substr(4);
                if (h.size() != 8) return fail(n, "inquiry-code hex: needs 8 hex digits");
                for (size_t i = 0; i < 4; ++i) {
                    if (!parseHex(h.substr(2 * i, 2), 0xFF, x)) return fail(n, "inquiry-code hex: needs 8 hex digits");
                    d.inquiryCode[i] = static_cast<uint8_t>(x);
                }
                return true;
            }
            if (v.size() > 4) return fail(n, "inquiry-code longer than 4 characters");
            d.inquiryCode = {0, 0, 0, 0};
            std::memcpy(d.inquiryCode.data(), v.data(), v.size());
            return true;
        }
        if (key == "inquiry-length") {
            if (!parseNumber(v, 96, x)) return fail(n, "inquiry-length must be 0 to 96");
            d.inquiryLength = static_cast<uint32_t>(x);
            return true;
        }
        if (key == "passes-ata") {
            if (!parseBool(v, d.passesAta)) return fail(n, "passes-ata must be yes or no");
            return true;
        }
        if (key == "volumes" || key == "busy-volumes") {
            std::vector<char>& list = key == "volumes" ? d.volumes : d.busyVolumes;
            list.clear();
            for (const auto& w : words(v)) {
                std::string letter = w;
                if (letter.size() == 2 && letter[1] == ':') letter.pop_back();
                if (letter.size() != 1 || !std::isalpha(static_cast<unsigned char>(letter[0]))) {
                    return fail(n, key + " must be drive letters");
                }
                const char c = UpperAscii(letter[0]);
                if (std::find(list.begin(), list.end(), c) != list.end()) {
                    return fail(n, std::string("volume ") + c + " listed twice");
                }
                list.push_back(c);
            }
            return true;
        }
        if (key == "command-ms") {
            if (!parseNumber(v, 3600000, x)) return fail(n, "command-ms must be 0 to 3600000");
            d.commandMs = static_cast<uint32_t>(x);
            return true;
        }
        if (key == "held-by-other") {
            const std::string l = LowerAscii(v);
            if (l == "none") d.heldByOther = SimHold::None;
            else if (l == "shared") d.heldByOther = SimHold::Shared;
            else if (l == "exclusive") d.heldByOther = SimHold::Exclusive;
            else return fail(n, "held-by-other must be none, shared or exclusive");
            return true;
        }
        if (key == "fault") return fault(n, v, d);
        return fail(n, "unknown key '" + key + "' in [disk]");
    }

    // fault = KEY at N|every KIND [ARGUMENT]
    bool fault(size_t n, const std::string& v, SimDiskSpec& d) {
        if (d.faults.size() >= kMaxFaults) return fail(n, "more than 64 faults on one disk");
        const auto w = words(LowerAscii(v));
        const char* usage = "fault must be 'KEY at N KIND [ARG]' or 'KEY every KIND [ARG]'";
        if (w.size() < 3) return fail(n, usage);
        SimFault f;
        f.key = w[0];
        if (!validFaultKey(f.key)) return fail(n, "unknown fault key '" + w[0] + "'");
        size_t i = 1;
        uint64_t x = 0;
        if (w[i] == "every") {
            f.occurrence = 0;
            ++i;
        } else if (w[i] == "at" && w.size() >= 4) {
            if (!parseNumber(w[i + 1], 1000000, x) || x == 0) return fail(n, "fault occurrence must be 1 to 1000000");
            f.occurrence = static_cast<int>(x);
            i += 2;
        } else {
            return fail(n, usage);
        }
        if (i >= w.size()) return fail(n, usage);
        const std::string kind = w[i++];
        const bool hasArg = i < w.size();
        const std::string arg = hasArg ? w[i] : std::string();
        if (i + 1 < w.size()) return fail(n, "too many words in fault");
        if (kind == "open-fails" || kind == "control-fails") {
            f.kind = kind == "open-fails" ? FaultKind::OpenFails : FaultKind::ControlFails;
            if ((f.kind == FaultKind::OpenFails) != (f.key == "open")) {
                return fail(n, "open-fails goes with the key open, and only there");
            }
            if (hasArg) {
                if (!parseNumber(arg, 0xFFFFFFFF, x) || x == 0) return fail(n, "error code must be a nonzero number");
                f.lastError = static_cast<uint32_t>(x);
            }
        } else if (kind == "ata-error") {
            f.kind = FaultKind::AtaError;
            if (hasArg) {
                if (!parseHex(arg, 0xFF, x)) return fail(n, "ata-error register must be one hex byte");
                f.errorReg = static_cast<uint8_t>(x);
            }
        } else if (kind == "hang") {
            f.kind = FaultKind::Hang;
            if (!hasArg || !parseNumber(arg, 3600000, x)) return fail(n, "hang needs milliseconds (at most 3600000)");
            f.ms = static_cast<uint32_t>(x);
        } else if (kind == "check-condition") {
            f.kind = FaultKind::CheckCondition;
            if (hasArg) {
                uint64_t k = 0, a = 0, q = 0;
                if (arg.size() != 8 || arg[2] != '/' || arg[5] != '/' || !parseHex(arg.substr(0, 2), 0x0F, k) ||
                    !parseHex(arg.substr(3, 2), 0xFF, a) || !parseHex(arg.substr(6, 2), 0xFF, q)) {
                    return fail(n, "check-condition sense must be KK/AA/QQ in hex");
                }
                f.senseKey = static_cast<uint8_t>(k);
                f.asc = static_cast<uint8_t>(a);
                f.ascq = static_cast<uint8_t>(q);
            }
        } else if (kind == "timeout") {
            f.kind = FaultKind::TimeOut;
            if (hasArg) return fail(n, "timeout takes no argument");
        } else if (kind == "short-data") {
            f.kind = FaultKind::ShortData;
            if (!hasArg || !parseNumber(arg, 65536, x)) return fail(n, "short-data needs a byte count (at most 65536)");
            f.bytes = static_cast<uint32_t>(x);
        } else {
            return fail(n, "unknown fault kind '" + kind + "'");
        }
        if (f.key == "open" && f.kind != FaultKind::OpenFails && f.kind != FaultKind::Hang) {
            return fail(n, "the key open takes open-fails or hang");
        }
        d.faults.push_back(f);
        return true;
    }

    bool closeDisk() {
        if (section_ != Section::Disk) return true;
        section_ = Section::None;
        SimDiskSpec& d = spec_.disks.back();
        if (d.path.empty()) return fail(diskLine_, "[disk] without path");
        for (size_t i = 0; i + 1 < spec_.disks.size(); ++i) {
            std::string a = LowerAscii(spec_.disks[i].path), b = LowerAscii(d.path);
            if (a == b) return fail(diskLine_, "path already used by disk " + std::to_string(i));
        }
        if (!rotationGiven_ && d.drive.controller == ControllerKind::HardDisk) d.drive.rotationRate = 7200;
        return true;
    }

    enum class Section { None, System, Disk };
    SimBenchSpec& spec_;
    std::string& error_;
    Section section_ = Section::None;
    bool sawSystem_ = false;
    bool rotationGiven_ = false;
    size_t diskLine_ = 0;
    std::set<std::string> keys_;
};

}  // namespace

bool parseBenchText(const std::string& text, SimBenchSpec& setup, std::string& error) {
    SimBenchSpec parsed;
    Parser p(parsed, error);
    if (!p.run(text)) return false;
    setup = std::move(parsed);
    return true;
}

const char* demoBenchText() {
    return R"(# The built-in demo bench: four of the maker's drives (one behind a USB bridge),
# another maker's SSD, a hard disk and a USB stick of no known bridge code.
[system]
os = 6.2
service-pack = 0
system-letter = C

[disk]
path = \\?\ide#diskquorvex_qx-t74_256gb_______________1.02____#5&1a2b3c4d&0&0.0.0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}
bus = ide
drive = maker
model = Quorvex QX-T74 256GB
serial = QX74A0000001
firmware = 1.02
sectors = 500118192
rotation = 1
wwn = 5001 b448 1234 5601
volumes = D
buildinfo = QXFWR_111007_R,Sep 18 2012,10:11:12,t74a,42A1B2,QX01
page-size-code = 1
system-blocks = 0x10 0x11 0x20 0x21
signature-block = 1
master-password = QXMASTER
smart = 1:0 5:0 9:4d2 12:38 167:0 169:0002000a0003 173:32c 175:0 192:7 194:004000120021
smart-thresholds = 1:6 5:a 194:0

[disk]
path = \\?\ide#diskquorvex_qx-t74_128gb_______________1.01____#5&1a2b3c4d&0&1.0.0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}
bus = ide
drive = maker
model = Quorvex QX-T74 128GB
serial = QX74B0000002
firmware = 1.01
sectors = 250069680
rotation = 1
wwn = 5001 b448 1234 5602
volumes = C
buildinfo = QXFWR_111008_R,Sep 20 2012,09:30:00,t74a,40C3D4,QX02
page-size-code = 1
system-blocks = 0x10 0x11 0x20 0x21
signature-block = 1
master-password = QXMASTER
smart = 1:0 5:0 9:4d2 12:38 167:0 169:0002000a0003 173:32c 175:0 192:7 194:004000120021
smart-thresholds = 1:6 5:a 194:0

[disk]
path = \\?\usbstor#disk&ven_quorvex&prod_usb_to_sata&rev_0001#0123456789ab&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}
bus = usb
inquiry-code = k403
passes-ata = yes
drive = maker
model = Quorvex QX-T74 512GB
serial = QX74C0000003
firmware = 1.02
sectors = 1000215216
rotation = 1
wwn = 5001 b448 1234 5603
volumes = E
buildinfo = QXFWR_111007_R,Sep 18 2012,10:11:12,t74a,42A1B2,QX01
page-size-code = 1
system-blocks = 0x10 0x11 0x20 0x21
signature-block = 1
master-password = QXMASTER
smart = 1:0 5:0 9:4d2 12:38 167:0 169:0002000a0003 173:32c 175:0 192:7 194:004000120021
smart-thresholds = 1:6 5:a 194:0

[disk]
path = \\?\ide#diskacme_ssd_120gb__________________________2.0_____#5&1a2b3c4d&0&2.0.0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}
bus = ide
drive = foreign
model = ACME SSD 120GB
serial = AC1200000004
firmware = 2.0
sectors = 234441648
rotation = 1
wwn = 5002 5380 0000 0004
smart = 1:0 9:64 12:10

[disk]
path = \\?\ide#diskhdd_st1000_____________________________cc43____#5&1a2b3c4d&0&3.0.0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}
bus = ide
drive = harddisk
model = HDD ST1000
serial = HD0000000005
firmware = CC43
sectors = 1953525168
rotation = 7200
wwn = 5000 c500 0000 0005
smart = 1:0 5:0 9:2710 194:1e

[disk]
path = \\?\usbstor#disk&ven_generic&prod_usb_disk&rev_1.00#a1b2c3d4&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}
bus = usb
inquiry-code = ZZ99
drive = harddisk
model = Generic USB Disk
serial = GU0000000006
firmware = 1.00
sectors = 31277232
rotation = 5400

[disk]
path = \\?\ide#diskquorvex_qx-t74_64gb________________0.98____#5&1a2b3c4d&0&4.0.0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}
bus = ide
drive = maker
model = Quorvex QX-T74 64GB
serial = QX74D0000006
firmware = 0.98
sectors = 125045424
rotation = 1
wwn = 5001 b448 1234 5606
buildinfo = QXFWR_110950_R,Aug 02 2012,08:00:00,t74a,40E5F6,QX03
page-size-code = 1
system-blocks = 0x10 0x11 0x20 0x21
signature-block = 1
master-password = QXMASTER
smart = 1:0 5:0 9:4d2 12:38 167:0 169:0002000a0003 173:32c 175:0 192:7 194:004000120021
smart-thresholds = 1:6 5:a 194:0
)";
}

}  // namespace qx::sim
