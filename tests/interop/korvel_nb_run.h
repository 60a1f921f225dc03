// SPDX-License-Identifier: MIT
// korvel-nb as the interop tests run it: a whole process inside a lab
// host's namespace on LANA 1, its exit status, its standard output and
// error kept apart, and its JSON document read with jq. With
// KORVEL_INTEROP_PROVIDER=service (ctest's "service." runs of a suite) each
// run reaches LANA 1 through a korveld in its host, started there by the
// host's first run; the lab stops it before it goes down.
#pragma once

#include <signal.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "netlab.h"

namespace netlab {

struct NbRun {
    int status = -1;
    std::string out, err, out_file;
    // jq's compact answer for a filter over the JSON document, no newline.
    std::string Jq(const std::string &filter) const {
        std::string answer = Shell("jq -c " + Quote(filter) + " " + out_file);
        while (!answer.empty() && answer.back() == '\n') answer.pop_back();
        return answer;
    }
};

inline std::string NbFiles(const Lab &lab) {
    static std::atomic<int> counter = 0;  // suites may run korvel-nb from several threads
    return lab.state() + "/korvel-nb-" + std::to_string(++counter);
}

inline bool ThroughService() {
    const char *value = std::getenv("KORVEL_INTEROP_PROVIDER");
    return value && std::string_view(value) == "service";
}

// Starts korveld in `host` unless one runs there; env: VAR=value words of
// its settings. The environment that makes korvel-nb its client (a service
// that did not come up then fails each run, with its log in the state).
inline std::string StartService(const Lab &lab, int host, const std::string &env = "") {
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    const std::string base = lab.state() + "/korveld-h" + std::to_string(host);
    const std::string client = "KORVEL_PROVIDER=service KORVEL_PROVIDER_SOCKET=" + base + ".sock ";
    struct stat status;
    if (::stat((base + ".sock").c_str(), &status) == 0) return client;
    const std::string pid =
        lab.Exec(host, env + " " + KORVELD + " --foreground --socket " + base + ".sock --state-dir " + base +
                           "-state >>" + base + ".log 2>&1 & echo $!");
    std::ofstream(lab.state() + "/daemon-korveld-h" + std::to_string(host) + ".pid") << pid;
    for (int i = 0; i < 100; ++i) {
        if (::stat((base + ".sock").c_str(), &status) == 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return client;
}

// The environment korvel-nb runs with in `host`: the suite's own, or the
// service's first.
inline std::string NbEnv(const Lab &lab, int host, const std::string &env) {
    return ThroughService() ? StartService(lab, host) + env : env;
}

// env: VAR=value words to run it with.
inline std::string NbCommand(const std::string &args, const std::string &files, const std::string &env = "") {
    return env + " " + std::string(KORVEL_NB) + " --lana 1 " + args + " >" + files + ".out 2>" + files +
           ".err";
}

// Runs korvel-nb ARGS in `host` to its end.
inline NbRun RunNb(const Lab &lab, int host, const std::string &args, const std::string &env = "") {
    NbRun run;
    const std::string files = NbFiles(lab);
    lab.Exec(host, NbCommand(args, files, NbEnv(lab, host, env)), &run.status);
    run.out_file = files + ".out";
    run.out = ReadFile(files + ".out");
    run.err = ReadFile(files + ".err");
    return run;
}

// korvel-nb ARGS running in `host` while the test talks to it.
class NbBackground {
public:
    NbBackground(const Lab &lab, int host, const std::string &args, const std::string &env = "")
        : files_(NbFiles(lab)) {
        const std::string pid = lab.Exec(host, NbCommand(args, files_, NbEnv(lab, host, env)) + " & echo $!");
        pid_ = std::atoi(pid.c_str());
    }
    ~NbBackground() {
        if (Running()) ::kill(pid_, SIGKILL);
    }
    NbBackground(const NbBackground &) = delete;
    NbBackground &operator=(const NbBackground &) = delete;

    bool Running() const {
        return pid_ > 0 && ::kill(pid_, 0) == 0 &&
               !Contains(ReadFile("/proc/" + std::to_string(pid_) + "/stat"), ") Z");
    }
    // True once standard output has `text` (at most 10 s).
    bool WaitFor(const std::string &text) const {
        for (int i = 0; i < 100 && !Contains(Out(), text) && Running(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return Contains(Out(), text);
    }
    // True once it has exited (at most 30 s).
    bool Wait() const {
        for (int i = 0; i < 300 && Running(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return !Running();
    }
    // Ctrl-C, then waits for it to end.
    bool Interrupt() const {
        ::kill(pid_, SIGINT);
        return Wait();
    }
    int pid() const { return pid_; }
    std::string Out() const { return ReadFile(files_ + ".out"); }
    std::string Err() const { return ReadFile(files_ + ".err"); }
    // What it printed; the exit status is in the JSON document, if asked for.
    NbRun Result() const { return {-1, Out(), Err(), files_ + ".out"}; }

private:
    std::string files_;
    int pid_ = 0;
};

}  // namespace netlab
