#include "help_text.h"

#include <cstdio>

#include "command_line.h"

namespace vcomctl {
namespace {

namespace catalogue = ze::ic::catalogue;

const char* const kFooter =
    "Board: the chip and its wiring come from the [VCOM] section of\n"
    "ROOT/obdata/model/config/board.ini; a board file that cannot be read, or lacks\n"
    "[VCOM] or its TypeIdx, is refused. The SoC backend is the one\n"
    "ROOT/etc/zeplatform.conf selects.\n"
    "\n"
    "Values: decimal (128) or hex with 0x (0x80); no sign, no leading zero (no\n"
    "octal). A value the chip cannot hold is refused before anything is sent:\n"
    "{RANGES}\n"
    "A read that the chip routine reports as failed is an error, not the value 0.\n"
    "The commands stop at the first one that fails; a session goes on.\n"
    "save VALUE stores VALUE on every chip. The save of {CURRENT} stores the\n"
    "setting the chip holds, so vcomctl updates to VALUE first (shown with -v and\n"
    "--trace).\n"
    "A save is read back and a difference fails the run.\n"
    "The read of {STORED} returns what a save stored; the read of {UNSTORED} returns\n"
    "the chip's register, so its save is verified against the stored copy.\n"
    "SIGINT, SIGTERM or SIGHUP during a command lets its chip sequence finish, then\n"
    "stops.\n"
    "\n"
    "Exit status: 0 success; 1 the bring-up, a command or a save's verification\n"
    "failed; 2 the command line was refused and nothing was done (unlike i2cget,\n"
    "where 2 is a failed read); 128+N stopped by signal N (129 SIGHUP,\n"
    "130 SIGINT, 143 SIGTERM).\n"
    "\n"
    "Examples:\n"
    "  vcomctl read\n"
    "  vcomctl -q read\n"
    "  vcomctl --sim auo read update 0x80 read save 0x80\n"
    "  vcomctl --json update 128 save 128\n"
    "  vcomctl --sim in525 --trace=i2ctransfer save 0x5A\n"
    "  printf 'update 120\\nread\\n' | vcomctl --sim rt6966 session\n"
    "  vcomctl --sim-state /tmp/panel --sim in518 save 0x70\n"
    "  vcomctl calibrate --sim in525 --meter sim --log line.jsonl\n"
    "  vcomctl calibrate --meter-cmd 'probe --once' --state line.json\n"
    "  vcomctl plot line.jsonl --panel SN123 -o SN123.svg\n"
    "  vcomctl line-report line.jsonl -o shift.html\n"
    "(vcomctl calibrate --help lists the calibration options; plot and line-report\n"
    "stand alone, without a bring-up: vcomctl plot --help.)";

std::string chipList(bool ChipInfo::*property, bool value)
{
    std::string names;
    for (const ChipInfo& chip : catalogue::kChips) {
        if (chip.*property != value) continue;
        if (!names.empty()) names += ", ";
        names += chip.name;
    }
    return names;
}

}  // namespace

const char* const kDescription =
    "vcomctl: read, set and store the panel's VCOM through the VCOM driver.\n"
    "Brings the driver up as the HAL framework does, applies the commands in\n"
    "order to that one bring-up, and takes the driver down again.\n";

std::string helpFooter()
{
    std::string text = kFooter;
    const auto fill = [&text](const std::string& field, const std::string& value) {
        text.replace(text.find(field), field.size(), value);
    };
    fill("{STORED}", chipList(&ChipInfo::readShowsStored, true));
    fill("{UNSTORED}", chipList(&ChipInfo::readShowsStored, false));
    fill("{CURRENT}", chipList(&ChipInfo::saveStoresCurrent, true));
    std::string ranges;
    for (const ChipInfo& chip : catalogue::kChips) {
        char line[160];
        std::snprintf(line, sizeof line, "  %-7s update 0-%-4u save 0-%-4u %s\n", chip.name,
                      unsigned{chip.updateMax}, unsigned{chip.saveMax}, chip.updateNote);
        ranges += line;
    }
    fill("{RANGES}", ranges);
    return text;
}

}  // namespace vcomctl
