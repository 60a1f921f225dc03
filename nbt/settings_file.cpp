#include "settings_file.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "name_encoding.h"

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

std::optional<NodeType> ParseNodeType(const std::string &text) {
    const std::string t = Lower(text);
    if (t == "b" || t == "broadcast") return NodeType::kB;
    if (t == "p" || t == "peer") return NodeType::kP;
    if (t == "m" || t == "mixed") return NodeType::kM;
    if (t == "h" || t == "hybrid") return NodeType::kH;
    return std::nullopt;
}

// ADDRESS or ADDRESS:PORT.
std::optional<NameServer> ParseServer(const std::string &text) {
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
    if (server.ipv4 == 0 || server.ipv4 == 0xFFFFFFFFu) return std::nullopt;
    return server;
}

// "primary" or "primary, secondary".
bool ParseServers(const std::string &text, NameServer &primary, std::optional<NameServer> &secondary) {
    const auto comma = text.find(',');
    auto first = ParseServer(Trim(text.substr(0, comma)));
    if (!first) return false;
    primary = *first;
    if (comma == std::string::npos) return true;
    secondary = ParseServer(Trim(text.substr(comma + 1)));
    return secondary.has_value();
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
        return o.node_type || Fail(error, "node-type must be b, p, m or h, not '" + value + "'");
    }
    if (key == "wins") {
        NameServer primary;
        std::optional<NameServer> secondary;
        if (!ParseServers(value, primary, secondary))
            return Fail(error, "wins wants ADDRESS[:PORT][, ADDRESS[:PORT]], not '" + value + "'");
        o.name_server = primary;
        o.name_server_secondary = secondary.value_or(NameServer{});
        return true;
    }
    if (key == "wins-secondary") {
        auto server = ParseServer(value);
        if (!server) return Fail(error, "wins-secondary wants ADDRESS[:PORT], not '" + value + "'");
        o.name_server_secondary = *server;
        return true;
    }
    if (key == "scope") {
        if (!value.empty() && !codec::IsValidScope(value))
            return Fail(error, "invalid scope '" + value + "'");
        o.scope = value;
        return true;
    }
    return Fail(error, "unknown setting '" + key + "'");
}

}  // namespace

bool ApplySetting(const std::string &key, const std::string &value, Settings &settings, std::string *error) {
    auto seconds = [&](std::chrono::milliseconds &field) {
        auto parsed = ParseSeconds(value);
        if (!parsed) return Fail(error, key + " wants seconds, not '" + value + "'");
        field = *parsed;
        return true;
    };
    if (key == "name-server-timeout") return seconds(settings.ns_retry_timeout);
    if (key == "name-server-recheck") return seconds(settings.ns_recheck_interval);
    if (key == "cache-ttl") return seconds(settings.cache_max_ttl);
    if (key == "negative-cache-ttl") return seconds(settings.negative_cache_ttl);
    if (key == "name-server-retries") {
        if (value.size() != 1 || value[0] < '1' || value[0] > '9')
            return Fail(error, "name-server-retries wants 1 to 9, not '" + value + "'");
        settings.ns_retry_count = value[0] - '0';
        return true;
    }
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
        const std::string where = origin + ":" + std::to_string(number) + ": ";
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
                return Fail(error, where + "unknown section '[" + section + "]' (try [adapter NAME])");
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

std::optional<Settings> LoadSettings(Settings base, std::string *error) {
    for (const auto &path : SettingsFiles()) {
        std::ifstream file(path);
        if (!file) continue;
        std::stringstream text;
        text << file.rdbuf();
        if (!ApplySettingsText(text.str(), path, base, error)) return std::nullopt;
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
