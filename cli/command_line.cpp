// SPDX-License-Identifier: MIT
#include "command_line.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "command.h"
#include "global_options.h"
#include "lana_info.h"
#include "ncb_wait.h"
#include "option_values.h"
#include "settings_file.h"
#include "usage.h"

namespace cli {
namespace {

const Command *FindCommand(const std::string &name) {
    for (const Command *command : Commands())
        if (name == command->name) return command;
    return nullptr;
}

// The command is the first word that is neither a global option nor its
// value; words.size() when there is none.
std::optional<std::size_t> CommandAt(const std::vector<std::string> &words, std::string *error) {
    std::size_t at = 0;
    while (at < words.size() && words[at].rfind("--", 0) == 0 && words[at] != "--") {
        const std::string &word = words[at];
        const auto equals = word.find('=');
        const std::string name = word.substr(2, equals == std::string::npos ? equals : equals - 2);
        const GlobalOption *option = FindGlobalOption(name);
        if (!option) {
            *error = "unknown option '--" + name + "' (a command's options come after it)";
            return std::nullopt;
        }
        at += option->value && equals == std::string::npos ? 2 : 1;
    }
    return std::min(at, words.size());
}

int WithoutCommand(const std::vector<std::string> &words, const std::string &version) {
    std::string error;
    const auto globals = ParseArgs(words, GlobalOptionSpecs(), &error);
    if (!globals) return UsageError("", error);
    if (globals->Has("version")) {
        std::printf("korvel-nb %s\n", version.c_str());
        return kExitOk;
    }
    if (!globals->Has("help")) return UsageError("", "no command given");
    PrintOverview();
    return kExitOk;
}

// korvel-nb help [COMMAND]
int Help(const std::vector<std::string> &topics) {
    if (topics.empty()) {
        PrintOverview();
        return kExitOk;
    }
    const Command *command = FindCommand(topics[0]);
    if (!command) return UsageError("", "no command '" + topics[0] + "'");
    PrintCommandHelp(*command);
    return kExitOk;
}

// The provider reads its settings when first used: --node-type and --wins
// go in through the environment it reads, after the files.
bool ApplySettingOptions(const ParsedArgs &args, std::string *error) {
    struct SettingOption {
        const char *option, *variable;
    };
    for (const SettingOption &o :
         {SettingOption{"node-type", "KORVEL_NODE_TYPE"}, SettingOption{"wins", "KORVEL_WINS"}}) {
        const auto text = args.Value(o.option);
        if (!text) continue;
        nbt::Settings scratch;
        if (!nbt::ApplySetting(o.option, *text, scratch, error)) {
            *error = "--" + std::string(o.option) + ": " + *error;
            return false;
        }
        ::setenv(o.variable, text->c_str(), 1);
    }
    return true;
}

int Run(const Command &command, Context &context, const ParsedArgs &args) {
    CommandStarts();
    const int status = ProcessExitStatus(command.run(context, args));
    if (context.json()) {
        context.doc().Set("exit_status", status);
        std::fputs(context.doc().Dump().c_str(), stdout);
    }
    return status;
}

int RunCommand(const Command &command, const std::vector<std::string> &words) {
    std::vector<OptionSpec> specs = GlobalOptionSpecs();
    specs.insert(specs.end(), command.options.begin(), command.options.end());
    std::string error;
    const auto args = ParseArgs(words, specs, &error);
    if (!args) return UsageError(command.name, error);
    if (args->Has("help")) {
        PrintCommandHelp(command);
        return kExitOk;
    }
    OptionValues options(*args);
    const auto timeout = options.Seconds("timeout");
    const long lana = options.Count("lana", 0, MAX_LANA, -1, "an adapter number, 0 to 254");
    if (!options.ok()) return UsageError("", options.error());
    if (!ApplySettingOptions(*args, &error)) return UsageError("", error);
    if (!nbt::LoadSettings({}, &error)) {
        std::fprintf(stderr, "korvel-nb: %s\n", error.c_str());
        return kExitUsage;
    }
    const UCHAR chosen = lana < 0 ? DefaultLana() : static_cast<UCHAR>(lana);
    // korveld resolves with its own settings: ignoring the options there
    // would resolve otherwise than asked, without a word.
    if (args->Value("node-type") || args->Value("wins"))
        if (const auto info = FindLana(chosen); info && info->service)
            return UsageError("", "--node-type and --wins set this process's own provider, and LANA " +
                                      std::to_string(chosen) +
                                      " is korveld's, which takes them from its settings file "
                                      "(KORVEL_PROVIDER=embedded runs this process's own)");
    Context context(command.name, chosen, timeout, args->Has("json"));
    return Run(command, context, *args);
}

}  // namespace

int RunCommandLine(std::vector<std::string> words, const std::string &version) {
    std::string error;
    const auto at = CommandAt(words, &error);
    if (!at) return UsageError("", error);
    if (*at == words.size()) return WithoutCommand(words, version);
    const std::string name = words[*at];
    words.erase(words.begin() + static_cast<long>(*at));
    if (name == "help") return Help(words);
    const Command *command = FindCommand(name);
    if (!command) return UsageError("", "no command '" + name + "'");
    return RunCommand(*command, words);
}

}  // namespace cli
