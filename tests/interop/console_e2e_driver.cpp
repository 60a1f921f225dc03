// SPDX-License-Identifier: MIT
// One console of the end-to-end test, run inside a lab host under Xvfb on the
// real provider. It drives the dialog as an operator would (select, fill in,
// execute), writes what the status, result and other fields show after each
// step to <dir>/<role>.out, and coordinates with the other console through
// marker files in <dir>:
//
//   listener <dir> <own name> <contact>
//       reset LANA 1, add the name, listen with "Rxd bij listen" checked;
//       "listening" is written just before the listen is executed.
//   caller <dir> <own name> <listener's name> <text>
//       reset LANA 1, add the name, wait for "listening", call (retried while
//       the listen is not yet posted), send the text, then stay until
//       "listener.done" so the session outlives the listener's receive.
//
// Exit status: 0 when every step ran (the test judges the texts), 2 when a
// control was not usable, 3 when the watchdog ended a hang.
#include <unistd.h>
#include <wx/app.h>
#include <wx/init.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "console_dlg.h"
#include "window_system.h"

using namespace std::chrono_literals;

namespace {

constexpr auto kWatchdog = 45s;    // the whole run of one console
constexpr auto kPeerWait = 20s;    // for the other console's marker file
constexpr int kCallAttempts = 10;  // while the listen is not posted yet
constexpr auto kCallRetryPause = 300ms;

class DriverApp : public CWinApp {
public:
    bool OnInit() override { return InitWindowSystem(); }
};

std::FILE *report = nullptr;

void Line(const std::string &text) {
    std::fprintf(report, "%s\n", text.c_str());
    std::fflush(report);
}

[[noreturn]] void Abandon(const std::string &why) {
    Line("error " + why);
    std::fflush(nullptr);
    _exit(2);
}

// A wx assertion would otherwise open a box nobody answers.
void ReportAssert(const wxString &file, int line, const wxString &func, const wxString &cond,
                  const wxString &msg) {
    Line("assert " + std::string(file.utf8_str()) + ":" + std::to_string(line) + " " +
         std::string(func.utf8_str()) + ": " + std::string(cond.utf8_str()) + " " +
         std::string(msg.utf8_str()));
}

void StartWatchdog() {
    std::thread([] {
        std::this_thread::sleep_for(kWatchdog);
        Line("error watchdog: still running after 45 s");
        std::fflush(nullptr);
        _exit(3);
    }).detach();
}

void Settle() {
    for (int i = 0; i < 10; ++i) {
        wxTheApp->Yield(true);
        std::this_thread::sleep_for(5ms);
    }
}

std::string Text(CDialog &dlg, int id) {
    CString text;
    dlg.GetDlgItemText(id, text);
    return text.str();
}

CWnd &UsableControl(CDialog &dlg, int id, const char *what) {
    CWnd *item = dlg.GetDlgItem(id);
    if (!item) Abandon(std::string("no control ") + what);
    if (!item->IsWindowEnabled()) Abandon(std::string(what) + " is disabled");
    return *item;
}

// A synthetic click ignores the disabled state; the operator cannot.
void Click(CDialog &dlg, int id, const char *what) {
    wxWindow *window = UsableControl(dlg, id, what).GetWxWindow();
    wxCommandEvent click(wxEVT_BUTTON, window->GetId());
    click.SetEventObject(window);
    window->GetEventHandler()->ProcessEvent(click);
    Settle();
}

void Type(CDialog &dlg, int id, const char *what, const std::string &text) {
    UsableControl(dlg, id, what);
    dlg.SetDlgItemText(id, text.c_str());
}

void Check(CDialog &dlg, int id, const char *what) {
    UsableControl(dlg, id, what).SetCheck(BST_CHECKED);
}

// What the operator reads after a step.
void Show(CDialog &dlg, const std::string &step) {
    Line(step + ".status=" + Text(dlg, IDC_STATUS));
    Line(step + ".result=" + Text(dlg, IDC_RESULT));
    Line(step + ".num=" + Text(dlg, IDC_NUM));
    Line(step + ".lsn=" + Text(dlg, IDC_LSN));
    Line(step + ".message=" + Text(dlg, IDC_MESSAGE));
}

void Touch(const std::filesystem::path &marker) {
    std::ofstream(marker) << "1\n";
}

bool WaitFor(const std::filesystem::path &marker) {
    const auto deadline = std::chrono::steady_clock::now() + kPeerWait;
    while (!std::filesystem::exists(marker)) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

// LANA 1 inside a lab host is its eth0.
void ResetAndAddName(CConsoleDlg &dlg, const std::string &name) {
    Click(dlg, IDC_RESET, "Reset");
    Type(dlg, IDC_LANA, "Lana", "1");
    Click(dlg, IDC_EXECUTE, "Execute");
    Show(dlg, "reset");
    Click(dlg, IDC_ADDNAME, "Naam toevoegen");
    Type(dlg, IDC_OWNNAME, "own name", name);
    Click(dlg, IDC_EXECUTE, "Execute");
    Show(dlg, "addname");
}

void Listener(CConsoleDlg &dlg, const std::filesystem::path &dir, const std::string &name,
              const std::string &contact) {
    ResetAndAddName(dlg, name);
    Click(dlg, IDC_LISTEN, "Listen plaatsen");
    Type(dlg, IDC_CONTACT, "contact", contact);
    Check(dlg, IDC_RXDATLISTEN, "Rxd bij listen");
    Touch(dir / "listening");
    Click(dlg, IDC_EXECUTE, "Execute");  // blocks through the listen and the receive
    Show(dlg, "listen");
    Touch(dir / "listener.done");
}

void Caller(CConsoleDlg &dlg, const std::filesystem::path &dir, const std::string &name,
            const std::string &contact, const std::string &text) {
    ResetAndAddName(dlg, name);
    if (!WaitFor(dir / "listening")) Abandon("the listener never posted its listen");
    int attempt = 0;
    do {
        if (attempt > 0) std::this_thread::sleep_for(kCallRetryPause);
        Click(dlg, IDC_CALL, "Call plaatsen");
        Type(dlg, IDC_CONTACT, "contact", contact);
        Click(dlg, IDC_EXECUTE, "Execute");
        ++attempt;
    } while (Text(dlg, IDC_RESULT) != "Ok......" && attempt < kCallAttempts);
    Line("call.attempts=" + std::to_string(attempt));
    Show(dlg, "call");
    Click(dlg, IDC_SEND, "Data Zenden");
    Type(dlg, IDC_MESSAGE, "message", text);
    Click(dlg, IDC_EXECUTE, "Execute");
    Show(dlg, "send");
    if (!WaitFor(dir / "listener.done")) Line("warning the listener never finished");
}

int Usage() {
    std::fprintf(stderr,
                 "usage: console_e2e_driver listener DIR NAME CONTACT\n"
                 "       console_e2e_driver caller DIR NAME CONTACT TEXT\n");
    return 64;
}

}  // namespace

// The toolkit's font and session libraries keep caches for the life of the
// process; under LeakSanitizer they would read as leaks of ours.
extern "C" const char *__lsan_default_suppressions() {
    return "leak:libfontconfig.so\n"
           "leak:libdbus-1.so\n"
           "leak:libglib-2.0.so\n";
}

int main(int argc, char **argv) {
    if (argc < 5) return Usage();
    const std::string role = argv[1];
    const std::filesystem::path dir = argv[2];
    const std::string name = argv[3];
    const std::string contact = argv[4];
    if (role == "caller" ? argc != 6 : role != "listener" || argc != 5) return Usage();

    report = std::fopen((dir / (role + ".out")).c_str(), "w");
    if (!report) {
        std::perror("console_e2e_driver: report file");
        return 1;
    }
    StartWatchdog();

    int wxArgc = 1;
    char *wxArgv[] = {argv[0], nullptr};
    wxApp::SetInstance(new DriverApp);
    if (!wxEntryStart(wxArgc, wxArgv) || !wxTheApp->CallOnInit()) {
        Line("error cannot start the window system");
        return 1;
    }
    wxSetAssertHandler(ReportAssert);
    Line("started");

    auto *dlg = new CConsoleDlg;
    if (!dlg->Create()) Abandon("the console template would not load");
    dlg->Show();
    Settle();
    if (role == "listener")
        Listener(*dlg, dir, name, contact);
    else
        Caller(*dlg, dir, name, contact, argv[5]);
    Line("end");

    dlg->Destroy();
    Settle();
    wxTheApp->OnExit();
    wxEntryCleanup();
    std::fclose(report);
    return 0;
}
