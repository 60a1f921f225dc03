// korvel-nb: the Korvel NetBIOS provider from the command line.
//   korvel-nb [--lana N] [--timeout SECONDS] [--json] COMMAND [ARGS...]
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "command.h"
#include "lana_info.h"
#include "ncb_wait.h"
#include "settings_file.h"

namespace {

using cli::Command;

const std::vector<cli::OptionSpec> kGlobalOptions = {{"lana", true},     {"timeout", true},   {"json", false},
                                                     {"help", false},    {"node-type", true}, {"wins", true},
                                                     {"version", false}, {"raw", false}};

constexpr const char *kGlobalHelp =
    "Global options (before or after the command):\n"
    "  --lana N           the adapter to use (korvel-nb lanas lists them); default 1, the first\n"
    "                     host interface, or 0 (loopback) where there is none\n"
    "  --timeout SECONDS  how long to wait for an answer or a caller (each command says)\n"
    "  --json             print one JSON document instead of text\n"
    "  --raw              print peer data as it came: no escapes for controls, no hex dump\n"
    "  --node-type TYPE   b, p, m or h: how names are registered and resolved (default b,\n"
    "                     broadcast only, or what the settings file says)\n"
    "  --wins ADDRESS[,ADDRESS]  the name server (WINS), and a secondary one\n"
    "  --help             this help, or a command's with korvel-nb COMMAND --help\n"
    "  --version          the version\n"
    "\n"
    "Exit status: 0 success, 1 a NetBIOS failure (the return code is named on standard\n"
    "error), 2 a usage error, 3 nothing answered.\n";

void PrintOverview() {
    std::printf(
        "Usage: korvel-nb [--lana N] [--timeout SECONDS] [--json] [--node-type TYPE] [--wins ADDRESS]\n"
        "                 COMMAND [ARGS...]\n"
        "\n"
        "NetBIOS over TCP/IP from the command line, through Korvel's provider.\n"
        "\n"
        "Commands:\n");
    for (const Command *command : cli::Commands())
        std::printf("  %-10s %s\n", command->name, command->summary);
    std::printf("\n%s", kGlobalHelp);
}

void PrintCommandHelp(const Command &command) {
    std::printf("Usage: korvel-nb [GLOBAL OPTIONS] %s\n\n%s\n%s", command.synopsis, command.help,
                kGlobalHelp);
}

const Command *FindCommand(const std::string &name) {
    for (const Command *command : cli::Commands())
        if (name == command->name) return command;
    return nullptr;
}

int UsageError(const std::string &message) {
    std::fprintf(stderr, "korvel-nb: %s (see korvel-nb --help)\n", message.c_str());
    return cli::kExitUsage;
}

}  // namespace

int main(int argc, char **argv) {
    cli::InstallInterruptHandling();
    // A reader that goes away (korvel-nb ... | head) must not stop the
    // cleanup: names would stay registered.
    std::signal(SIGPIPE, SIG_IGN);
    std::vector<std::string> words(argv + 1, argv + argc);

    // The command is the first word that is neither a global option nor its value.
    std::size_t at = 0;
    while (at < words.size() && words[at].rfind("--", 0) == 0 && words[at] != "--") {
        const std::string option = words[at].substr(2, words[at].find('=') - 2);
        const bool global = std::any_of(kGlobalOptions.begin(), kGlobalOptions.end(),
                                        [&](const cli::OptionSpec &spec) { return spec.name == option; });
        if (!global)
            return UsageError("unknown option '--" + option + "' (a command's options come after it)");
        if ((words[at] == "--lana" || words[at] == "--timeout" || words[at] == "--node-type" ||
             words[at] == "--wins") &&
            at + 1 < words.size())
            ++at;
        ++at;
    }
    std::string error;
    if (at >= words.size()) {
        auto globals = cli::ParseArgs(words, kGlobalOptions, &error);
        if (!globals) return UsageError(error);
        if (globals->Has("version")) {
            std::printf("korvel-nb %s\n", KORVEL_VERSION);
            return cli::kExitOk;
        }
        if (globals->Has("help")) {
            PrintOverview();
            return cli::kExitOk;
        }
        return UsageError("no command given");
    }
    const std::string name = words[at];
    words.erase(words.begin() + static_cast<long>(at));
    if (name == "help") {
        if (words.empty()) {
            PrintOverview();
            return cli::kExitOk;
        }
        const Command *command = FindCommand(words[0]);
        if (!command) return UsageError("no command '" + words[0] + "'");
        PrintCommandHelp(*command);
        return cli::kExitOk;
    }
    const Command *command = FindCommand(name);
    if (!command) return UsageError("no command '" + name + "'");

    std::vector<cli::OptionSpec> specs = kGlobalOptions;
    specs.insert(specs.end(), command->options.begin(), command->options.end());
    auto args = cli::ParseArgs(words, specs, &error);
    if (!args) {
        std::fprintf(stderr, "korvel-nb %s: %s (see korvel-nb %s --help)\n", name.c_str(), error.c_str(),
                     name.c_str());
        return cli::kExitUsage;
    }
    if (args->Has("help")) {
        PrintCommandHelp(*command);
        return cli::kExitOk;
    }

    std::optional<std::chrono::milliseconds> timeout;
    if (auto text = args->Value("timeout")) {
        auto seconds = cli::ParseSeconds(*text);
        if (!seconds) return UsageError("--timeout takes seconds, such as 2 or 0.5");
        timeout = std::chrono::milliseconds(static_cast<long long>(*seconds * 1000));
    }
    // The provider reads its settings when first used: the options go in
    // through the environment it reads, after the files.
    struct SettingOption {
        const char *option, *variable;
    };
    for (const SettingOption &o :
         {SettingOption{"node-type", "KORVEL_NODE_TYPE"}, SettingOption{"wins", "KORVEL_WINS"}}) {
        auto text = args->Value(o.option);
        if (!text) continue;
        nbt::Settings scratch;
        if (!nbt::ApplySetting(o.option, *text, scratch, &error))
            return UsageError("--" + std::string(o.option) + ": " + error);
        ::setenv(o.variable, text->c_str(), 1);
    }
    if (!nbt::LoadSettings({}, &error)) {
        std::fprintf(stderr, "korvel-nb: %s\n", error.c_str());
        return cli::kExitUsage;
    }

    UCHAR lana = 0;
    if (auto text = args->Value("lana")) {
        auto number = cli::ParseCount(*text, 0, MAX_LANA);
        if (!number) return UsageError("--lana takes an adapter number, 0 to 254");
        lana = static_cast<UCHAR>(*number);
    } else {
        const auto lanas = cli::EnumerateLanas();
        lana = std::find(lanas.begin(), lanas.end(), 1) != lanas.end() ? 1 : 0;
    }

    cli::Context context(name, lana, timeout, args->Has("json"));
    cli::CommandStarts();
    const int status = cli::ProcessExitStatus(command->run(context, *args));
    if (context.json()) {
        context.doc().Set("exit_status", status);
        std::fputs(context.doc().Dump().c_str(), stdout);
    }
    return status;
}
