// SPDX-License-Identifier: MIT
// The provider's settings file and environment. Files are read in order,
// each over the last: /etc/korvel/korvel.conf, then
// $XDG_CONFIG_HOME/korvel/korvel.conf (~/.config when XDG_CONFIG_HOME is
// unset); then KORVEL_NODE_TYPE, KORVEL_WINS and KORVEL_SCOPE. A missing
// file is no error, and one that exists but cannot be opened is skipped
// with a word on standard error; a line that cannot be understood is an
// error, and so is a file that is not a regular one or is over 64 KiB. Every
// message names the file (and the line), with its bytes made printable.
//
// A scope is what RFC 1001/1002 asks of it, RFC 883 labels: letters, digits
// and '-', 1 to 63 bytes, no '-' first or last (a digit may lead, as in
// RFC 1123 host names), and the whole name encoded with it at most 255
// bytes. Stricter than the wire, which carries any byte: a scope is typed,
// and one no peer's setup could match is a mistake to catch. A name server
// is a unicast IPv4 address.
//
//   # comment
//   node-type = h                  # b, p, m or h
//   wins = 198.18.161.11, 10.0.0.2 # primary[, secondary]; ADDRESS[:PORT]
//   scope = corp.example
//   broadcast-timeout = 0.25       # seconds between broadcast queries
//   broadcast-retries = 3          # queries sent, 1 to 9
//   client-max-names = 32          # also client-max-ncbs, client-max-sessions
//   [adapter eth1]                 # overrides for one interface
//   node-type = b
//   lana = 3                       # korveld numbers it LANA 3 (1..254)
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings.h"

namespace nbt {

// Applies the lines of one file. On error returns false with
// "ORIGIN:LINE: what" in *error; settings may then be half changed.
bool ApplySettingsText(std::string_view text, const std::string &origin, Settings &settings,
                       std::string *error);

// One key = value pair, as a file line without a section would give it.
bool ApplySetting(const std::string &key, const std::string &value, Settings &settings, std::string *error);

// The files LoadSettings reads, in order.
std::vector<std::string> SettingsFiles();

constexpr std::size_t kMaxSettingsFile = 64 * 1024;

// One settings file, read without blocking and never past kMaxSettingsFile
// (+1 byte to tell that it is over).
struct SettingsFileText {
    enum Outcome {
        kRead,        // in `text`
        kMissing,     // no such file: nothing to say
        kUnreadable,  // exists but cannot be opened or read: `message`
        kRefused,     // not a regular file, or too large: `message`
    } outcome = kMissing;
    std::string text;
    std::string message;  // "PATH: why", printable
};
SettingsFileText ReadSettingsFile(const std::string &path);

// `base` with the files and the environment applied; nullopt and *error
// when any of them is invalid.
std::optional<Settings> LoadSettings(Settings base, std::string *error);

// The provider Netbios() uses gets these: LoadSettings over the defaults,
// or, when that fails, the defaults (the reason goes to standard error once).
Settings DefaultProviderSettings();

}  // namespace nbt
