// SPDX-License-Identifier: MIT
// korveld's numbering of LANAs 1 and up (lana_map.h), kept in the state
// directory as the file "lanas" and written again, atomically (a new file
// renamed over the old), whenever a number is given. Without a usable
// directory the numbers are stable only while korveld runs; it says so once.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "lana_map.h"
#include "lana_table.h"
#include "settings.h"

namespace korveld {

class StableLanas final : public nbt::LanaNumbering {
public:
    // state_dir: "" keeps the map in memory only. pins: from the settings'
    // [adapter NAME] lana = N.
    StableLanas(std::string state_dir, LanaMap pins);

    std::vector<nbt::Lana> Number(const std::vector<nbt::InterfaceAddress> &interfaces) override;

    // The file's path ("" without a state directory).
    const std::string &path() const { return path_; }

private:
    void Load();
    void Save();

    std::mutex mutex_;
    std::string path_;
    LanaMap pins_;
    LanaMap map_;
    bool said_unsaved_ = false;
};

// The pins of a settings' adapter sections.
LanaMap PinsOf(const nbt::Settings &settings);

}  // namespace korveld
