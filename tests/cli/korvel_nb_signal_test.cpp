// korvel-nb as a process: a settings file that is a FIFO cannot hold it,
// and SIGTERM ends it, waiting or not, with the status a shell expects
// (143). Its node is LANA 0 (loopback); the name server it is given is a
// socket here that never answers.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char **environ;

namespace {

// A config home of its own with `conf` as korvel/korvel.conf (unless the
// test makes that itself).
class ConfigHome {
public:
    ConfigHome() {
        static int counter = 0;
        path_ = std::filesystem::temp_directory_path() /
                ("korvel-nb-signal-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
        std::filesystem::create_directories(path_ / "korvel");
    }
    ~ConfigHome() { std::filesystem::remove_all(path_); }
    std::filesystem::path Conf() const { return path_ / "korvel" / "korvel.conf"; }
    const std::filesystem::path &path() const { return path_; }

private:
    std::filesystem::path path_;
};

// korvel-nb --lana 0 ARGS with that config home and none of the KORVEL_
// variables, standard error kept in a file.
class KorvelNb {
public:
    KorvelNb(const std::vector<std::string> &args, const ConfigHome &home) : err_(home.path() / "stderr") {
        std::vector<std::string> words{KORVEL_NB, "--lana", "0"};
        words.insert(words.end(), args.begin(), args.end());
        std::vector<std::string> env{"XDG_CONFIG_HOME=" + home.path().string()};
        for (char **var = environ; *var; ++var)
            if (std::string_view(*var).rfind("KORVEL_", 0) != 0 &&
                std::string_view(*var).rfind("XDG_", 0) != 0)
                env.emplace_back(*var);
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
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
    std::string Err() const {
        std::ostringstream text;
        text << std::ifstream(err_).rdbuf();
        return text.str();
    }

private:
    static std::vector<char *> Pointers(std::vector<std::string> &words) {
        std::vector<char *> pointers;
        for (auto &word : words) pointers.push_back(word.data());
        pointers.push_back(nullptr);
        return pointers;
    }
    std::filesystem::path err_;
    pid_t pid_ = 0;
};

// A name server on 127.0.0.1 that hears and never answers.
class SilentNameServer {
public:
    SilentNameServer() : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (::bind(fd_, reinterpret_cast<sockaddr *>(&address), size) == 0)
            ::getsockname(fd_, reinterpret_cast<sockaddr *>(&address), &size);
        port_ = ntohs(address.sin_port);
    }
    ~SilentNameServer() { ::close(fd_); }
    std::uint16_t port() const { return port_; }
    // True once a request has come (at most 10 s).
    bool Heard() const {
        pollfd ready{fd_, POLLIN, 0};
        if (::poll(&ready, 1, 10000) != 1) return false;
        char packet[1500];
        return ::recv(fd_, packet, sizeof packet, 0) > 0;
    }

private:
    int fd_;
    std::uint16_t port_ = 0;
};

std::string Describe(std::optional<int> status) {
    if (!status) return "still running";
    if (WIFEXITED(*status)) return "exit status " + std::to_string(WEXITSTATUS(*status));
    if (WIFSIGNALED(*status)) return "killed by signal " + std::to_string(WTERMSIG(*status));
    return "wait status " + std::to_string(*status);
}

TEST(KorvelNbSignals, ASettingsFileThatIsAFifoIsRefusedAtOnce) {
    ConfigHome home;
    ASSERT_EQ(::mkfifo(home.Conf().c_str(), 0600), 0);
    KorvelNb nb({"names"}, home);
    ASSERT_TRUE(nb.started());
    auto status = nb.WaitUpTo(std::chrono::seconds(10));
    if (!status) {
        ADD_FAILURE() << "blocked opening the FIFO";
        nb.Signal(SIGTERM);
        status = nb.WaitUpTo(std::chrono::seconds(10));
        EXPECT_TRUE(status) << "and SIGTERM did not end it";
    }
    EXPECT_EQ(Describe(status), "exit status 2");
    EXPECT_NE(nb.Err().find(home.Conf().string() + ": is a FIFO"), std::string::npos) << nb.Err();
}

// A P-node whose name server is silent and waited on for an hour a try:
// `status` waits for the query (where it polls for the signal), `call` for
// its name's registration (inside Netbios(), where it cannot).
TEST(KorvelNbSignals, SigtermEndsAWaitAndACallThatWouldNotReturn) {
    for (const std::string command : {"status", "call"}) {
        SCOPED_TRACE(command);
        ConfigHome home;
        SilentNameServer wins;
        std::ofstream(home.Conf()) << "node-type = p\nwins = 127.0.0.1:" << wins.port()
                                   << "\nname-server-timeout = 3600\n";
        KorvelNb nb({command, "KORVEL-NOBODY"}, home);
        ASSERT_TRUE(nb.started());
        ASSERT_TRUE(wins.Heard()) << nb.Err();
        nb.Signal(SIGTERM);
        EXPECT_EQ(Describe(nb.WaitUpTo(std::chrono::seconds(60))), "exit status 143") << nb.Err();
    }
}

}  // namespace
