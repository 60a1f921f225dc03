// SPDX-License-Identifier: MIT
#include "settings_file.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>
#include <sstream>
#include <system_error>

#include "name_encoding.h"
#include "printable.h"

namespace nbt {
namespace {

std::string Trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t\r");
    return std::string(text.substr(first, last - first + 1));
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// Text from a file or the environment as a message shows it.
std::string Quoted(std::string_view text) {
    // Appended piece by piece: GCC's -O3 sees a bogus overlap in "'" + s.
    std::string quoted = "'";
    quoted += Printable(text);
    quoted += '\'';
    return quoted;
}

std::optional<NodeType> ParseNodeType(const std::string &text) {
    const std::string t = Lower(text);
    if (t == "b" || t == "broadcast") return NodeType::kB;
    if (t == "p" || t == "peer") return NodeType::kP;
    if (t == "m" || t == "mixed") return NodeType::kM;
    if (t == "h" || t == "hybrid") return NodeType::kH;
    return std::nullopt;
}

// Why a host-order IPv4 address cannot be a name server's; null when it can.
const char *NotUnicast(std::uint32_t address) {
    if (address >> 24 == 0) return "means this network (0.0.0.0/8)";
    if (address >> 28 == 0xE) return "is a multicast address";
    if (address == 0xFFFFFFFFu) return "is the broadcast address";
    if (address >> 28 == 0xF) return "is reserved (240.0.0.0/4)";
    return nullptr;
}

// ADDRESS or ADDRESS:PORT. On failure *why says what is wrong with a
// well-formed address, and stays empty for text that is not one.
std::optional<NameServer> ParseServer(const std::string &text, std::string *why) {
    std::string address = text;
    NameServer server;
    if (auto colon = text.find(':'); colon != std::string::npos) {
        address = text.substr(0, colon);
        const std::string port = text.substr(colon + 1);
        if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos)
            return std::nullopt;
        const long value = std::strtol(port.c_str(), nullptr, 10);
        if (value < 1 || value > 65535) return std::nullopt;
        server.port = static_cast<std::uint16_t>(value);
    }
    in_addr parsed{};
    if (::inet_pton(AF_INET, address.c_str(), &parsed) != 1) return std::nullopt;
    server.ipv4 = ntohl(parsed.s_addr);
    if (const char *problem = NotUnicast(server.ipv4)) {
        *why = address + " " + problem + "; a name server has a unicast one";
        return std::nullopt;
    }
    return server;
}

// "primary" or "primary, secondary".
bool ParseServers(const std::string &text, NameServer &primary, std::optional<NameServer> &secondary,
                  std::string *why) {
    const auto comma = text.find(',');
    auto first = ParseServer(Trim(text.substr(0, comma)), why);
    if (!first) return false;
    primary = *first;
    if (comma == std::string::npos) return true;
    secondary = ParseServer(Trim(text.substr(comma + 1)), why);
    return secondary.has_value();
}

// What is wrong with a non-empty scope (see settings_file.h); empty when
// nothing is.
std::string ScopeProblem(const std::string &scope) {
    std::size_t start = 0;
    for (;;) {
        const std::size_t dot = std::min(scope.find('.', start), scope.size());
        const std::string_view label = std::string_view(scope).substr(start, dot - start);
        if (label.empty()) return "has an empty label";
        if (label.size() > codec::kMaxLabel) return "has a label over 63 bytes";
        for (const char c : label)
            if (!(c >= 'a' && c <= 'z') && !(c >= 'A' && c <= 'Z') && !(c >= '0' && c <= '9') && c != '-')
                return "has " + Quoted(std::string_view(&c, 1)) +
                       " in a label (letters, digits and '-' only)";
        if (label.front() == '-' || label.back() == '-') return "has a label that begins or ends with '-'";
        if (dot == scope.size()) break;
        start = dot + 1;
    }
    if (!codec::IsValidScope(scope)) return "makes every name longer than 255 bytes encoded";
    return {};
}

std::optional<std::chrono::milliseconds> ParseSeconds(const std::string &text) {
    char *end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(value) || value < 0 || value > 86400 * 30)
        return std::nullopt;
    return std::chrono::milliseconds(static_cast<long long>(value * 1000 + 0.5));
}

bool Fail(std::string *error, const std::string &message) {
    if (error) *error = message;
    return false;
}

// One key of an [adapter NAME] section.
bool ApplyAdapterSetting(const std::string &key, const std::string &value, Settings::AdapterOverride &o,
                         std::string *error) {
    if (key == "node-type") {
        o.node_type = ParseNodeType(value);
        return o.node_type || Fail(error, "node-type must be b, p, m or h, not " + Quoted(value));
    }
    if (key == "wins") {
        NameServer primary;
        std::optional<NameServer> secondary;
        std::string why;
        if (!ParseServers(value, primary, secondary, &why))
            return Fail(
                error, "wins" + (why.empty() ? " wants ADDRESS[:PORT][, ADDRESS[:PORT]], not " + Quoted(value)
                                             : ": " + why));
        o.name_server = primary;
        o.name_server_secondary = secondary.value_or(NameServer{});
        return true;
    }
    if (key == "wins-secondary") {
        std::string why;
        auto server = ParseServer(value, &why);
        if (!server)
            return Fail(error, "wins-secondary" + (why.empty() ? " wants ADDRESS[:PORT], not " + Quoted(value)
                                                               : ": " + why));
        o.name_server_secondary = *server;
        return true;
    }
    if (key == "scope") {
        if (const std::string problem = value.empty() ? "" : ScopeProblem(value); !problem.empty())
            return Fail(error, "scope " + Quoted(value) + " " + problem);
        o.scope = value;
        return true;
    }
    if (key == "lana") {
        // LANA 0 is the loopback adapter's.
        const bool digits =
            !value.empty() && value.size() <= 3 &&
            std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
        const int number = digits ? std::stoi(value) : 0;
        if (number < 1 || number > MAX_LANA)
            return Fail(error, "lana wants a number from 1 to " + std::to_string(MAX_LANA) + ", not " +
                                   Quoted(value));
        o.lana = static_cast<std::uint8_t>(number);
        return true;
    }
    return Fail(error, "unknown setting " + Quoted(key));
}

}  // namespace

bool ApplySetting(const std::string &key, const std::string &value, Settings &settings, std::string *error) {
    auto seconds = [&](std::chrono::milliseconds &field) {
        auto parsed = ParseSeconds(value);
        if (!parsed) return Fail(error, key + " wants seconds, not " + Quoted(value));
        field = *parsed;
        return true;
    };
    if (key == "name-server-timeout") return seconds(settings.ns_retry_timeout);
    if (key == "name-server-recheck") return seconds(settings.ns_recheck_interval);
    if (key == "cache-ttl") return seconds(settings.cache_max_ttl);
    if (key == "negative-cache-ttl") return seconds(settings.negative_cache_ttl);
    auto count = [&](std::size_t &field) {
        const bool digits =
            !value.empty() && value.size() <= 3 && value.find_first_not_of("0123456789") == std::string::npos;
        const long parsed = digits ? std::strtol(value.c_str(), nullptr, 10) : 0;
        if (parsed < 1 || parsed > 254) return Fail(error, key + " wants 1 to 254, not " + Quoted(value));
        field = static_cast<std::size_t>(parsed);
        return true;
    };
    if (key == "client-max-ncbs") return count(settings.client_max_ncbs);
    if (key == "client-max-names") return count(settings.client_max_names);
    if (key == "client-max-sessions") return count(settings.client_max_sessions);
    auto retries = [&](int &field) {
        if (value.size() != 1 || value[0] < '1' || value[0] > '9')
            return Fail(error, key + " wants 1 to 9, not " + Quoted(value));
        field = value[0] - '0';
        return true;
    };
    if (key == "name-server-retries") return retries(settings.ns_retry_count);
    // A broadcast query's time, and so the longest a name lookup through
    // the service waits for the segment: retries x timeout.
    if (key == "broadcast-timeout") return seconds(settings.bcast_retry_timeout);
    if (key == "broadcast-retries") return retries(settings.bcast_retry_count);
    // One interface's number means nothing for the whole host.
    if (key == "lana") return Fail(error, "lana belongs in an [adapter NAME] section");
    Settings::AdapterOverride o;
    if (!ApplyAdapterSetting(key, value, o, error)) return false;
    settings.Apply(o);
    return true;
}

bool ApplySettingsText(std::string_view text, const std::string &origin, Settings &settings,
                       std::string *error) {
    std::istringstream lines{std::string(text)};
    std::string line, adapter;
    bool in_adapter = false;
    for (int number = 1; std::getline(lines, line); ++number) {
        const std::string where = Printable(origin) + ":" + std::to_string(number) + ": ";
        if (auto hash = line.find('#'); hash != std::string::npos) line.resize(hash);
        const std::string content = Trim(line);
        if (content.empty()) continue;
        if (content.front() == '[') {
            if (content.back() != ']') return Fail(error, where + "a section ends with ']'");
            const std::string section = Trim(content.substr(1, content.size() - 2));
            if (section == "global") {
                in_adapter = false;
                continue;
            }
            if (section.rfind("adapter", 0) != 0 || Trim(section.substr(7)).empty())
                return Fail(error, where + "unknown section " + Quoted("[" + section + "]") +
                                       " (try [adapter NAME])");
            adapter = Trim(section.substr(7));
            in_adapter = true;
            continue;
        }
        const auto equals = content.find('=');
        if (equals == std::string::npos) return Fail(error, where + "expected KEY = VALUE");
        const std::string key = Lower(Trim(content.substr(0, equals)));
        const std::string value = Trim(content.substr(equals + 1));
        std::string why;
        const bool ok = in_adapter ? ApplyAdapterSetting(key, value, settings.adapters[adapter], &why)
                                   : ApplySetting(key, value, settings, &why);
        if (!ok) return Fail(error, where + why);
    }
    return true;
}

std::vector<std::string> SettingsFiles() {
    std::vector<std::string> files{"/etc/korvel/korvel.conf"};
    const char *xdg = std::getenv("XDG_CONFIG_HOME");
    const char *home = std::getenv("HOME");
    if (xdg && *xdg == '/')
        files.push_back(std::string(xdg) + "/korvel/korvel.conf");
    else if (home && *home)
        files.push_back(std::string(home) + "/.config/korvel/korvel.conf");
    return files;
}

namespace {

const char *FileKind(mode_t mode) {
    if (S_ISDIR(mode)) return "directory";
    if (S_ISFIFO(mode)) return "FIFO";
    if (S_ISCHR(mode)) return "character device";
    if (S_ISBLK(mode)) return "block device";
    if (S_ISSOCK(mode)) return "socket";
    return "special file";
}

std::string Reason(int error_number) {
    return std::error_code(error_number, std::generic_category()).message();
}

SettingsFileText Unreadable(const std::string &path, int error_number) {
    return {
        SettingsFileText::kUnreadable, {}, "cannot read " + Printable(path) + ": " + Reason(error_number)};
}

SettingsFileText Refused(const std::string &path, const std::string &why) {
    return {SettingsFileText::kRefused, {}, Printable(path) + ": " + why};
}

constexpr const char *kTooLarge = "larger than 64 KiB, which is no settings file";

// Each file that cannot be read is mentioned once a process: the provider
// and korvel-nb both load the settings.
void SayOnce(const std::string &message) {
    static std::mutex mutex;
    static std::set<std::string> said;
    std::lock_guard lock(mutex);
    if (said.insert(message).second) std::fprintf(stderr, "korvel: %s; skipping it\n", message.c_str());
}

}  // namespace

SettingsFileText ReadSettingsFile(const std::string &path) {
    // Non-blocking: a FIFO or a device must not hold the open (or a read)
    // for ever; nothing but a regular file is read at all.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        const int error_number = errno;
        if (error_number == ENOENT || error_number == ENOTDIR) return {};
        struct stat status {};
        if (::stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode))  // a socket: ENXIO
            return Refused(path, std::string("is a ") + FileKind(status.st_mode) + ", not a regular file");
        return Unreadable(path, error_number);
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat status {};
    if (::fstat(fd, &status) != 0) return Unreadable(path, errno);
    if (!S_ISREG(status.st_mode))
        return Refused(path, std::string("is a ") + FileKind(status.st_mode) + ", not a regular file");
    if (status.st_size > static_cast<off_t>(kMaxSettingsFile)) return Refused(path, kTooLarge);
    // It may have grown since: read one byte past the cap to know.
    SettingsFileText file{SettingsFileText::kRead, std::string(kMaxSettingsFile + 1, '\0'), {}};
    std::size_t size = 0;
    while (size < file.text.size()) {
        const ssize_t got = ::read(fd, file.text.data() + size, file.text.size() - size);
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            return Unreadable(path, errno);
        }
        size += static_cast<std::size_t>(got);
    }
    if (size > kMaxSettingsFile) return Refused(path, kTooLarge);
    file.text.resize(size);
    return file;
}

std::optional<Settings> LoadSettings(Settings base, std::string *error) {
    for (const auto &path : SettingsFiles()) {
        const SettingsFileText file = ReadSettingsFile(path);
        switch (file.outcome) {
            case SettingsFileText::kMissing:
                continue;
            case SettingsFileText::kUnreadable:
                SayOnce(file.message);
                continue;
            case SettingsFileText::kRefused:
                if (error) *error = file.message;
                return std::nullopt;
            case SettingsFileText::kRead:
                if (!ApplySettingsText(file.text, path, base, error)) return std::nullopt;
        }
    }
    static constexpr std::pair<const char *, const char *> kEnvironment[] = {
        {"KORVEL_NODE_TYPE", "node-type"}, {"KORVEL_WINS", "wins"}, {"KORVEL_SCOPE", "scope"}};
    for (const auto &[variable, key] : kEnvironment) {
        const char *value = std::getenv(variable);
        if (!value) continue;
        std::string why;
        if (!ApplySetting(key, Trim(value), base, &why)) {
            if (error) *error = std::string(variable) + ": " + why;
            return std::nullopt;
        }
    }
    return base;
}

Settings DefaultProviderSettings() {
    std::string error;
    if (auto settings = LoadSettings({}, &error)) return *settings;
    std::fprintf(stderr, "korvel: %s; using the default settings (a B-node)\n", error.c_str());
    return {};
}

}  // namespace nbt
