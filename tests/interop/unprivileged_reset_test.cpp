// SPDX-License-Identifier: MIT
// An ordinary user resets a real adapter once the program has the capability
// to bind the NetBIOS ports, as the Debian package grants korvel-nb: the build is
// installed into a temporary root (the packages' layout), a C program is
// built there against the installed library, and both it and the installed
// console get cap_net_bind_service. Run as nobody inside a lab host, the
// program resets LANA 1; a copy without the capability fails with
// NRC_OPENERR and says why on standard error.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "lab_guard.h"
#include "lab_suite.h"
#include "netlab.h"

namespace {

namespace fs = std::filesystem;
using netlab::Contains;
using netlab::Quote;
using netlab::Shell;

constexpr int kHost = 1;
// The sanitizers' leak check cannot inspect a process that carries file
// capabilities; the library's own tests do that.
const std::string kAsUser =
    "ASAN_OPTIONS=detect_leaks=0 setpriv --reuid=nobody --regid=nogroup --clear-groups ";

// A fresh folder that nobody may enter, on a file system that keeps file
// capabilities (they live in extended attributes). Empty when there is none.
fs::path CapableFolder(std::string *why) {
    for (const char *base : {static_cast<const char *>(std::getenv("TMPDIR")), "/var/tmp", "/tmp"}) {
        if (!base) continue;
        std::string pattern = std::string(base) + "/korvel-cap-XXXXXX";
        if (!mkdtemp(pattern.data())) continue;
        const fs::path dir = pattern;
        fs::permissions(dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                 fs::perms::others_read | fs::perms::others_exec);
        const std::string probe = (dir / "probe").string();
        int status = 0;
        Shell("cp /bin/true " + Quote(probe) + " && setcap cap_net_bind_service+ep " + Quote(probe) + " && " +
                  kAsUser + Quote(probe),
              &status);
        fs::remove(probe);
        if (status == 0) return dir;
        *why += std::string(base) + " keeps no file capabilities (or nobody cannot enter it); ";
        fs::remove_all(dir);
    }
    return {};
}

class UnprivilegedReset : public LabSuite {
protected:
    static void SetUpTestSuite() { StartLab("kc", 1); }
};

TEST_F(UnprivilegedReset, TheCapabilityLetsAnOrdinaryUserResetLana1) {
    std::string why;
    const fs::path root = CapableFolder(&why);
    if (root.empty()) KORVEL_SKIP_WITHOUT_LAB(why);
    struct Cleanup {
        fs::path dir;
        ~Cleanup() { fs::remove_all(dir); }
    } cleanup{root};

    int status = 0;
    std::string out =
        Shell(std::string(KORVEL_SOURCE_DIR) + "/tests/package/install_root.sh " + Quote(KORVEL_CMAKE) + " " +
                  Quote(KORVEL_BUILD_DIR) + " " + Quote(root.string()) + " " + Quote(KORVEL_C_COMPILER) +
                  " " + KORVEL_CLIENT_FLAGS,
              &status);
    ASSERT_EQ(status, 0) << out;
    const std::string plain = (root / "netbios_client").string();
    const std::string capable = (root / "netbios_client_cap").string();
    out = Shell(
        "cp " + Quote(plain) + " " + Quote(capable) + " && setcap cap_net_bind_service+ep " + Quote(capable),
        &status);
    ASSERT_EQ(status, 0) << out;

    // The installed korvel-nb still starts with the capability the package
    // gives it (secure execution: the loader ignores LD_* there).
    const fs::path tool = root / "usr/local/bin/korvel-nb";
    if (fs::exists(tool)) {
        out = Shell("setcap cap_net_bind_service+ep " + Quote(tool.string()) + " && " + kAsUser +
                        Quote(tool.string()) + " --version",
                    &status);
        EXPECT_EQ(status, 0) << out;
        EXPECT_TRUE(Contains(out, "1.0.0.1")) << out;
    }

    // Without the capability: refused, and the reason names the port and the privilege.
    out = lab().Exec(kHost, kAsUser + Quote(plain) + " 1 reset", &status);
    EXPECT_NE(status, 0);
    EXPECT_TRUE(Contains(out, "reset 0x3F")) << out;
    EXPECT_TRUE(Contains(out, "port 137/udp: permission denied")) << out;
    EXPECT_TRUE(Contains(out, "CAP_NET_BIND_SERVICE")) << out;
    EXPECT_TRUE(Contains(out, "start the service korveld")) << out;

    // With it: the reset binds 137 and 139 on the lab host's interface.
    out = lab().Exec(kHost, kAsUser + Quote(capable) + " 1 reset", &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_TRUE(Contains(out, "reset 0x00")) << out;
}

}  // namespace
