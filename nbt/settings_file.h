// The provider's settings file and environment. Files are read in order,
// each over the last: /etc/korvel/korvel.conf, then
// $XDG_CONFIG_HOME/korvel/korvel.conf (~/.config when XDG_CONFIG_HOME is
// unset); then KORVEL_NODE_TYPE, KORVEL_WINS and KORVEL_SCOPE. A missing
// file is no error; a line that cannot be understood is, and its message
// names the file and the line.
//
//   # comment
//   node-type = h                  # b, p, m or h
//   wins = 198.18.161.11, 10.0.0.2 # primary[, secondary]; ADDRESS[:PORT]
//   scope = corp.example
//   [adapter eth1]                 # overrides for one interface
//   node-type = b
#pragma once

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

// `base` with the files and the environment applied; nullopt and *error
// when any of them is invalid.
std::optional<Settings> LoadSettings(Settings base, std::string *error);

// The provider Netbios() uses gets these: LoadSettings over the defaults,
// or, when that fails, the defaults (the reason goes to standard error once).
Settings DefaultProviderSettings();

}  // namespace nbt
