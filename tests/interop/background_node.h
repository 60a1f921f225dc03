// A Korvel node (korvel_node_tool) kept running in the background of a lab
// host while peers talk to it: it carries out its commands, prints "ready",
// and holds its LANA until Stop().
#pragma once

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include "lab_suite.h"

class BackgroundNode {
public:
    BackgroundNode(int host, const std::string &commands) {
        using namespace std::chrono_literals;
        output_ = LabSuite::lab().state() + "/node-" + std::to_string(++counter_) + ".out";
        stop_ = output_ + ".stop";
        std::remove(stop_.c_str());
        LabSuite::lab().Exec(host, std::string(KORVEL_NODE_TOOL) + " " + commands + " ready hold-until " +
                                       stop_ + " >" + output_ + " 2>&1 &");
        for (int i = 0;
             i < 100 && !netlab::Contains(Output(), "ready") && !netlab::Contains(Output(), "done"); ++i)
            std::this_thread::sleep_for(100ms);
    }
    ~BackgroundNode() { Stop(); }
    std::string Stop() {
        using namespace std::chrono_literals;
        std::ofstream(stop_.c_str()) << "stop";
        for (int i = 0; i < 100 && !netlab::Contains(Output(), "done"); ++i)
            std::this_thread::sleep_for(50ms);
        return Output();
    }
    std::string Output() const { return netlab::ReadFile(output_); }
    bool ready() const { return netlab::Contains(Output(), "ready"); }
    // Waits up to `seconds` for `text` in the output.
    bool WaitFor(const std::string &text, int seconds) const {
        using namespace std::chrono_literals;
        for (int i = 0; i < seconds * 10; ++i) {
            if (netlab::Contains(Output(), text)) return true;
            std::this_thread::sleep_for(100ms);
        }
        return false;
    }

private:
    static inline int counter_ = 0;
    std::string output_, stop_;
};
