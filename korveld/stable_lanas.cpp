// SPDX-License-Identifier: MIT
#include "stable_lanas.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "printable.h"
#include "settings.h"
#include "settings_file.h"

namespace korveld {
namespace {

bool WriteAll(int fd, const std::string &text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) return false;
        done += static_cast<std::size_t>(wrote);
    }
    return true;
}

// Writes `text` to path.new, flushes it to disk and renames it over `path`,
// so a crash leaves the old map or the new one, never half of one.
bool ReplaceFile(const std::string &path, const std::string &text, std::string *why) {
    const std::string temporary = path + ".new";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    bool ok = fd >= 0 && WriteAll(fd, text) && ::fsync(fd) == 0;
    int error_number = errno;
    if (fd >= 0 && ::close(fd) != 0 && ok) {
        ok = false;
        error_number = errno;
    }
    if (ok && ::rename(temporary.c_str(), path.c_str()) != 0) {
        ok = false;
        error_number = errno;
    }
    if (!ok) {
        if (fd >= 0) ::unlink(temporary.c_str());
        *why = std::strerror(error_number);
        return false;
    }
    // The rename itself, on disk.
    const std::string directory = path.substr(0, path.rfind('/') + 1);
    if (const int dir =
            ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

}  // namespace

LanaMap PinsOf(const nbt::Settings &settings) {
    LanaMap pins;
    for (const auto &[name, adapter] : settings.adapters)
        if (adapter.lana) pins.emplace(name, *adapter.lana);
    return pins;
}

StableLanas::StableLanas(std::string state_dir, LanaMap pins) : pins_(std::move(pins)) {
    if (!state_dir.empty()) {
        path_ = state_dir + "/lanas";
        // By hand, the directory systemd would have made.
        ::mkdir(state_dir.c_str(), 0755);
    }
    Load();
}

void StableLanas::Load() {
    if (path_.empty()) return;
    const nbt::SettingsFileText file = nbt::ReadSettingsFile(path_);
    if (file.outcome == nbt::SettingsFileText::kMissing) return;
    if (file.outcome != nbt::SettingsFileText::kRead) {
        std::fprintf(stderr, "korveld: LANA numbers start afresh: %s\n", file.message.c_str());
        return;
    }
    std::size_t skipped = 0;
    map_ = ParseLanaMap(file.text, &skipped);
    if (skipped)
        std::fprintf(stderr, "korveld: %s: %zu line(s) that are no LANA number skipped\n",
                     nbt::Printable(path_).c_str(), skipped);
}

void StableLanas::Save() {
    std::string why;
    if (path_.empty()) {
        why = "no state directory";
    } else if (ReplaceFile(path_, FormatLanaMap(map_), &why)) {
        said_unsaved_ = false;
        return;
    }
    if (said_unsaved_) return;
    said_unsaved_ = true;
    std::fprintf(stderr, "korveld: LANA numbers not saved (%s%s%s): they hold until korveld ends\n",
                 path_.empty() ? "" : nbt::Printable(path_).c_str(), path_.empty() ? "" : ": ", why.c_str());
}

std::vector<nbt::Lana> StableLanas::Number(const std::vector<nbt::InterfaceAddress> &interfaces) {
    std::lock_guard lock(mutex_);
    const LanaMap before = map_;
    auto lanas = AssignLanas(nbt::EligibleInterfaces(interfaces), pins_, map_);
    if (map_ != before) Save();
    return lanas;
}

}  // namespace korveld
