// SPDX-License-Identifier: MIT
// Test runner for the console: starts the window system once (under Xvfb),
// turns wx assertions into test failures and ends any test that hangs.
#include <gtest/gtest.h>
#include <unistd.h>
#include <wx/app.h>
#include <wx/init.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "console_resources.h"

namespace {
class TestApp : public CWinApp {
public:
    bool OnInit() override { return InitWindowSystem(); }
};

void FailOnAssert(const wxString &file, int line, const wxString &func, const wxString &cond,
                  const wxString &msg) {
    ADD_FAILURE_AT(file.utf8_str(), line)
        << "wx assertion in " << func.utf8_str() << ": " << cond.utf8_str() << " " << msg.utf8_str();
}

// A test that blocks (a modal box nobody answers, a wait that never ends)
// ends the run with its name instead of hanging the build.
class Watchdog : public ::testing::EmptyTestEventListener {
public:
    Watchdog() : m_thread([this] { Watch(); }) {}
    ~Watchdog() override {
        {
            std::lock_guard guard(m_lock);
            m_stop = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }
    void OnTestStart(const ::testing::TestInfo &test) override {
        std::lock_guard guard(m_lock);
        m_name = std::string(test.test_suite_name()) + "." + test.name();
        m_deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        m_armed = true;
        m_wake.notify_all();
    }
    void OnTestEnd(const ::testing::TestInfo &) override {
        std::lock_guard guard(m_lock);
        m_armed = false;
    }

private:
    void Watch() {
        std::unique_lock guard(m_lock);
        while (!m_stop) {
            if (!m_armed) {
                m_wake.wait(guard);
                continue;
            }
            if (m_wake.wait_until(guard, m_deadline) == std::cv_status::timeout && m_armed &&
                std::chrono::steady_clock::now() >= m_deadline) {
                std::fprintf(stderr, "\nwatchdog: %s still running after 60 s; ending the run\n",
                             m_name.c_str());
                std::fflush(stderr);
                _exit(3);
            }
        }
    }

    std::mutex m_lock;
    std::condition_variable m_wake;
    std::string m_name;
    std::chrono::steady_clock::time_point m_deadline{};
    bool m_armed = false;
    bool m_stop = false;
    std::thread m_thread;
};
}  // namespace

// The toolkit's font and session libraries keep caches for the life of the
// process; under LeakSanitizer they would read as leaks of ours.
extern "C" const char *__lsan_default_suppressions() {
    return "leak:libfontconfig.so\n"
           "leak:libdbus-1.so\n"
           "leak:libglib-2.0.so\n";
}

extern "C" const char *__lsan_default_options() {
    return "print_suppressions=0";
}

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();  // discovery needs no display

    wxApp::SetInstance(new TestApp);
    if (!wxEntryStart(argc, argv)) {
        std::fprintf(stderr, "cannot start the window system (is there a display?)\n");
        return 1;
    }
    if (!wxTheApp->CallOnInit()) {
        std::fprintf(stderr, "window system set-up failed\n");
        wxEntryCleanup();
        return 1;
    }
    wxSetAssertHandler(FailOnAssert);
    ::testing::UnitTest::GetInstance()->listeners().Append(new Watchdog);
    const int result = RUN_ALL_TESTS();
    wxTheApp->OnExit();
    wxEntryCleanup();
    return result;
}
