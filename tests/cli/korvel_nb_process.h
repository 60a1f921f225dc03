// SPDX-License-Identifier: MIT
// korvel-nb as a process on LANA 0 (loopback), for the tests that need no
// lab: started with posix_spawn in a config home of its own, without the
// caller's KORVEL_ variables, its standard output and error kept in files.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

extern char **environ;

namespace korvel_nb_test {

inline std::string ReadFile(const std::filesystem::path &path) {
    std::ostringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

// A config home of its own, with korvel/korvel.conf for a test to write.
class ConfigHome {
public:
    ConfigHome() {
        static int counter = 0;
        path_ = std::filesystem::temp_directory_path() /
                ("korvel-nb-test-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
        std::filesystem::create_directories(path_ / "korvel");
    }
    ~ConfigHome() { std::filesystem::remove_all(path_); }
    ConfigHome(const ConfigHome &) = delete;
    ConfigHome &operator=(const ConfigHome &) = delete;
    std::filesystem::path Conf() const { return path_ / "korvel" / "korvel.conf"; }
    const std::filesystem::path &path() const { return path_; }

private:
    std::filesystem::path path_;
};

// korvel-nb --lana 0 ARGS, killed if still running when it goes.
class KorvelNb {
public:
    KorvelNb(const std::vector<std::string> &args, const ConfigHome &home) {
        static int counter = 0;
        const std::string n = std::to_string(++counter);
        out_ = home.path() / ("stdout-" + n);
        err_ = home.path() / ("stderr-" + n);
        std::vector<std::string> words{KORVEL_NB, "--lana", "0"};
        words.insert(words.end(), args.begin(), args.end());
        std::vector<std::string> env{"XDG_CONFIG_HOME=" + home.path().string()};
        for (char **var = environ; *var; ++var)
            if (std::string_view(*var).rfind("KORVEL_", 0) != 0 &&
                std::string_view(*var).rfind("XDG_", 0) != 0)
                env.emplace_back(*var);
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        posix_spawn_file_actions_addopen(&files, STDERR_FILENO, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        const int rc =
            posix_spawn(&pid_, KORVEL_NB, &files, nullptr, Pointers(words).data(), Pointers(env).data());
        posix_spawn_file_actions_destroy(&files);
        if (rc != 0) pid_ = 0;
    }
    ~KorvelNb() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    KorvelNb(const KorvelNb &) = delete;
    KorvelNb &operator=(const KorvelNb &) = delete;

    bool started() const { return pid_ > 0; }
    void Signal(int signal) const { ::kill(pid_, signal); }
    // Its wait status once it has ended; nullopt when it is still running
    // after `limit` (a bound on a hang, not a measure of speed).
    std::optional<int> WaitUpTo(std::chrono::seconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        for (;;) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = 0;
                return status;
            }
            if (std::chrono::steady_clock::now() >= end) return std::nullopt;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    // True once standard output holds `text`, within `limit`.
    bool WaitForOutput(const std::string &text, std::chrono::seconds limit = std::chrono::seconds(10)) const {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (Out().find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() >= end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }
    std::string Out() const { return ReadFile(out_); }
    std::string Err() const { return ReadFile(err_); }

private:
    static std::vector<char *> Pointers(std::vector<std::string> &words) {
        std::vector<char *> pointers;
        for (auto &word : words) pointers.push_back(word.data());
        pointers.push_back(nullptr);
        return pointers;
    }
    std::filesystem::path out_, err_;
    pid_t pid_ = 0;
};

// "exit status N", "killed by signal N" or "still running".
inline std::string Describe(std::optional<int> status) {
    if (!status) return "still running";
    if (WIFEXITED(*status)) return "exit status " + std::to_string(WEXITSTATUS(*status));
    if (WIFSIGNALED(*status)) return "killed by signal " + std::to_string(WTERMSIG(*status));
    return "wait status " + std::to_string(*status);
}

}  // namespace korvel_nb_test
