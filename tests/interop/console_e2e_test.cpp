// SPDX-License-Identifier: MIT
// Two consoles end to end on the real provider, each in its own lab host
// under its own X server: host 1's console adds a name and listens with
// "Rxd bij listen", host 2's console adds its name, calls the first and sends
// a text, which must show in the listener's message field. Each console is a
// console_e2e_driver process; they meet through marker files in a temp dir.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "lab_suite.h"

using namespace std::chrono_literals;

extern char **environ;

namespace {

constexpr int kListenerHost = 1;
constexpr int kCallerHost = 2;
constexpr auto kStartWait = 15s;  // for an X server and the console to come up
constexpr auto kRunWait = 50s;    // for both consoles to finish, counted from the caller's start

std::string ReadFile(const std::filesystem::path &path) {
    return netlab::ReadFile(path.string());
}

// The driver's report: "step.field=text" lines become a map; other lines
// ("started", "end", "error ...") map to themselves.
std::map<std::string, std::string> Fields(const std::string &report) {
    std::map<std::string, std::string> fields;
    std::istringstream lines(report);
    std::string line;
    while (std::getline(lines, line)) {
        const auto equals = line.find('=');
        if (equals == std::string::npos)
            fields[line] = line;
        else
            fields[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return fields;
}

bool HasProblemLine(const std::string &report) {
    std::istringstream lines(report);
    std::string line;
    while (std::getline(lines, line))
        if (line.rfind("error ", 0) == 0 || line.rfind("assert ", 0) == 0) return true;
    return false;
}

// One console process: `ip netns exec <ns> xvfb-run -a ... driver args`, in
// its own process group so that a hang is ended with everything it started.
class Console {
public:
    Console(std::filesystem::path dir, std::string role) : dir_(std::move(dir)), role_(std::move(role)) {}
    ~Console() { Kill(); }
    Console(const Console &) = delete;
    Console &operator=(const Console &) = delete;

    bool Spawn(const std::string &ns, const std::vector<std::string> &args) {
        std::vector<std::string> words = {"ip",
                                          "netns",
                                          "exec",
                                          ns,
                                          "xvfb-run",
                                          "-a",
                                          "-s",
                                          "-screen 0 1024x768x24",
                                          CONSOLE_E2E_DRIVER,
                                          role_,
                                          dir_.string()};
        words.insert(words.end(), args.begin(), args.end());
        std::vector<char *> argv;
        for (auto &word : words) argv.push_back(word.data());
        argv.push_back(nullptr);

        const std::string log = (dir_ / (role_ + ".log")).string();
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_addopen(&files, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                         0644);
        posix_spawn_file_actions_adddup2(&files, STDOUT_FILENO, STDERR_FILENO);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attributes, 0);
        const int failed = posix_spawnp(&pid_, "ip", &files, &attributes, argv.data(), environ);
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&files);
        if (failed) pid_ = -1;
        return !failed;
    }

    // True once the console is on screen; false if it ended or took too long.
    bool WaitStarted() {
        const auto deadline = std::chrono::steady_clock::now() + kStartWait;
        while (std::chrono::steady_clock::now() < deadline) {
            if (Fields(Report()).count("started")) return true;
            if (Exited()) return Fields(Report()).count("started") > 0;
            std::this_thread::sleep_for(50ms);
        }
        return false;
    }

    // Polls; true once the process has ended (its status is then kept).
    bool Exited() {
        if (pid_ <= 0) return true;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) != pid_) return false;
        exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        pid_ = -1;
        return true;
    }

    void Kill() {
        if (pid_ <= 0) return;
        ::kill(-pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        exit_code_ = -1;
        pid_ = -1;
    }

    std::string Report() const { return ReadFile(dir_ / (role_ + ".out")); }
    std::string Log() const { return ReadFile(dir_ / (role_ + ".log")); }
    std::string Describe() const {
        return role_ + " exit " + std::to_string(exit_code_) + "\n--- report\n" + Report() + "--- log\n" +
               Log();
    }
    int exit_code() const { return exit_code_; }

private:
    std::filesystem::path dir_;
    std::string role_;
    pid_t pid_ = -1;
    int exit_code_ = -1;
};

// xvfb-run -a picks its display by looking for lock files, which a console
// starting at the same moment elsewhere may race for; one more try covers that.
bool Start(Console &console, const std::string &ns, const std::vector<std::string> &args) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (console.Spawn(ns, args) && console.WaitStarted()) return true;
        console.Kill();
    }
    return false;
}

class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "korvel-e2e-XXXXXX").string();
        if (::mkdtemp(pattern.data())) path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path &path() const { return path_; }

private:
    std::filesystem::path path_;
};

class ConsoleEndToEnd : public LabSuite {
protected:
    static void SetUpTestSuite() {
        if (!StartLab("kc", 2)) return;
        int status = 0;
        netlab::Shell("command -v xvfb-run", &status);
        if (status != 0) SkipAll("xvfb-run is not installed");
    }
};

// Host 1's console listens for `contact`; host 2's console, named
// callerName, calls it and sends a text.
void ListenCallAndSend(const std::string &listenerName, const std::string &callerName,
                       const std::string &contact) {
    const std::string text = "Hallo van " + callerName + " over eth0";

    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    Console listener(dir.path(), "listener");
    Console caller(dir.path(), "caller");
    // One after the other, so the two never pick the same display.
    ASSERT_TRUE(Start(listener, LabSuite::lab().Namespace(kListenerHost), {listenerName, contact}))
        << listener.Describe();
    ASSERT_TRUE(Start(caller, LabSuite::lab().Namespace(kCallerHost), {callerName, listenerName, text}))
        << caller.Describe();

    const auto deadline = std::chrono::steady_clock::now() + kRunWait;
    bool finished = false;
    while (!finished && std::chrono::steady_clock::now() < deadline) {
        const bool listenerDone = listener.Exited();
        const bool callerDone = caller.Exited();
        finished = listenerDone && callerDone;
        if (!finished) std::this_thread::sleep_for(100ms);
    }
    listener.Kill();
    caller.Kill();
    const std::string both = listener.Describe() + "\n" + caller.Describe();
    ASSERT_TRUE(finished) << "a console was still running after 50 s\n" << both;
    ASSERT_EQ(listener.exit_code(), 0) << both;
    ASSERT_EQ(caller.exit_code(), 0) << both;
    EXPECT_FALSE(HasProblemLine(listener.Report())) << both;
    EXPECT_FALSE(HasProblemLine(caller.Report())) << both;

    for (Console *console : {&listener, &caller}) {
        auto shown = Fields(console->Report());
        EXPECT_EQ(shown["reset.status"], "NetBiosReset gereed") << both;
        EXPECT_EQ(shown["reset.result"], "Ok......") << both;
        EXPECT_EQ(shown["addname.status"], "AddName gereed Num: " + shown["addname.num"]) << both;
        EXPECT_NE(shown["addname.num"], "0") << both;
        EXPECT_EQ(shown["addname.result"], "Ok......") << both;
        EXPECT_EQ(shown["end"], "end") << both;
    }

    auto a = Fields(listener.Report());
    EXPECT_EQ(a["listen.message"], text) << both;
    EXPECT_EQ(a["listen.status"], "Receive gereed") << both;
    EXPECT_EQ(a["listen.result"], "Ok......") << both;
    EXPECT_NE(a["listen.lsn"], "0") << both;

    auto b = Fields(caller.Report());
    EXPECT_EQ(b["call.status"], "Call gereed LSNnum: " + b["call.lsn"]) << both;
    EXPECT_NE(b["call.lsn"], "0") << both;
    EXPECT_EQ(b["call.result"], "Ok......") << both;
    EXPECT_EQ(b["send.status"], "Send gereed") << both;
    EXPECT_EQ(b["send.result"], "Ok......") << both;
}

TEST_F(ConsoleEndToEnd, ListenForAnyCallerReceivesTheCallersText) {
    ListenCallAndSend("KORVELA", "KORVELB", "*");
}

TEST_F(ConsoleEndToEnd, ListenForTheCallerByNameReceivesItsText) {
    ListenCallAndSend("KORVELC", "KORVELD", "KORVELD");
}
}  // namespace
