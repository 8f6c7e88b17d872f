// The SMART attribute catalogue, the report built from a SMART data sector, and the logic
// behind the main window's "Smart Info" button and the SMART window's "Get Smart Info".
#include "smart/SmartReport.h"

#include <algorithm>
#include <cstdio>

#include "QXLib/Smart.h"
#include "platform/LittleEndian.h"
#include "update/Update.h"

namespace qx {

namespace {

constexpr size_t kAttributeCount = 30;
constexpr size_t kAttributeSize = 12;
constexpr size_t kFirstAttribute = 2;
constexpr size_t kRawOffset = 5;  // raw byte 0 within an entry

// Which part of the six raw bytes a value shows.
enum class Field { R0, R1, R2, B0 };

// One report line: its text with one %d per value, the values in order, and the names the
// values carry when the attribute is described field by field.
struct CatalogueLine {
    const char* format;
    Field fields[3];
    int fieldCount;
    const char* keys[3];
};

struct CatalogueEntry {
    uint8_t id;
    const char* name;
    CatalogueLine lines[3];
    int lineCount;
};

constexpr CatalogueEntry kCatalogue[] = {
    {9, "Power-on Hours Count", {{"Power on hour=%d", {Field::R0}, 1, {"hours"}}}, 1},
    {12, "Drive Power Cycle Count", {{"Power on count=%d", {Field::R0}, 1, {"count"}}}, 1},
    {167, "SSD Protect Mode", {{"SSD Protect Mode=%d", {Field::B0}, 1, {"mode"}}}, 1},
    {169, "Bad Block Count",
     {{"Bad Block count=%d", {Field::R0}, 1, {"badBlocks"}},
      {"Total bad number=%d", {Field::R1}, 1, {"totalBad"}},
      {"Later bad number=%d", {Field::R2}, 1, {"laterBad"}}},
     3},
    {173, "Erase Count", {{"Erase count=%d", {Field::R0}, 1, {"count"}}}, 1},
    {175, "Bad Cluster Count", {{"Bad cluster table count=%d", {Field::R0}, 1, {"count"}}}, 1},
    {192, "Unexpected Power Loss Count",
     {{"Unexpected power loss count=%d", {Field::R0}, 1, {"count"}}}, 1},
    {194, "Temperature",
     {{"Temperature: Current=%d  Min=%d  Max=%d", {Field::R0, Field::R1, Field::R2}, 3,
       {"current", "min", "max"}}},
     1},
};

const CatalogueEntry* findEntry(uint8_t id) {
    for (const CatalogueEntry& e : kCatalogue) {
        if (e.id == id) return &e;
    }
    return nullptr;
}

// Only the low 16 bits of a counter are shown: each field is two raw bytes on its own, so
// every value lies in 0..65535 and prints as an unsigned decimal.
int fieldValue(const uint8_t* raw, Field f) {
    switch (f) {
        case Field::R0: return ReadLe16(raw);
        case Field::R1: return ReadLe16(raw + 2);
        case Field::R2: return ReadLe16(raw + 4);
        case Field::B0: return raw[0];
    }
    return 0;
}

std::string formatLine(const CatalogueLine& line, const uint8_t* raw) {
    int v[3] = {0, 0, 0};
    for (int k = 0; k < line.fieldCount; ++k) v[k] = fieldValue(raw, line.fields[k]);
    char text[96];
    // Texts with fewer than three values ignore the extra arguments.
    std::snprintf(text, sizeof text, line.format, v[0], v[1], v[2]);
    return text;
}

}  // namespace

std::vector<std::string> BuildSmartReport(const uint8_t* smartData512) {
    std::vector<std::string> lines;
    if (smartData512 == nullptr) return lines;
    for (size_t i = 0; i < kAttributeCount; ++i) {
        const uint8_t* entry = smartData512 + kFirstAttribute + kAttributeSize * i;
        const uint8_t* raw = entry + kRawOffset;
        const CatalogueEntry* e = findEntry(entry[0]);
        if (e == nullptr) continue;  // not catalogued, or an empty entry (ID 0)
        for (int k = 0; k < e->lineCount; ++k) lines.push_back(formatLine(e->lines[k], raw));
    }
    return lines;
}

std::vector<SmartAttributeView> DescribeSmartAttributes(const uint8_t* smartData512) {
    std::vector<SmartAttributeView> views;
    if (smartData512 == nullptr) return views;
    for (size_t i = 0; i < kAttributeCount; ++i) {
        const uint8_t* entry = smartData512 + kFirstAttribute + kAttributeSize * i;
        const uint8_t* raw = entry + kRawOffset;
        const CatalogueEntry* e = findEntry(entry[0]);
        if (e == nullptr) continue;
        SmartAttributeView v;
        v.id = e->id;
        v.name = e->name;
        v.flags = ReadLe16(entry + 1);
        v.current = entry[3];
        v.worst = entry[4];
        std::copy(raw, raw + v.raw.size(), v.raw.begin());
        for (int k = 0; k < e->lineCount; ++k) {
            const CatalogueLine& line = e->lines[k];
            v.lines.push_back(formatLine(line, raw));
            for (int f = 0; f < line.fieldCount; ++f) {
                v.fields.emplace_back(line.keys[f], fieldValue(raw, line.fields[f]));
            }
        }
        views.push_back(std::move(v));
    }
    return views;
}

void SmartInfoBtnClick(MainState& state, UserSeam& user) {
    LockButtons(state, user);
    if (CountCheckedRows(state, user) == 0) {
        user.notice(state.caption, "Please select a disk!", BoxIcon::None);
        UnlockButtons(state, user);
        return;
    }
    // The last checked row wins.
    const int rows = ActionRowCount(state, user);
    for (int row = 0; row < rows; ++row) {
        if (user.rowChecked(row)) SmartDrive = static_cast<uint8_t>(row);
    }
    user.showSmartWindow();
    UnlockButtons(state, user);
}

bool GetSMARTInfo(std::vector<std::string>& lines) {
    if (!AcquireSmartData(SmartDrive)) return false;
    lines = BuildSmartReport(SmartData.data());
    return true;
}

}  // namespace qx
