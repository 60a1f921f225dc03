// A provider with nothing to do: LANA 0 reset, two names added, a LISTEN
// pending, and then no traffic at all. bench/compare.sh measures the CPU
// time and the wake-ups of this process over a quiet interval; both should
// be nil. Prints "ready" once set up, then waits to be killed.
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "nb30.h"
#include "provider.h"

namespace {

void Pad(UCHAR *field, const char *text) {
    std::memset(field, ' ', NCBNAMSZ);
    std::memcpy(field, text, std::strlen(text));
}

}  // namespace

int main() {
    nbt::Settings settings;
    settings.host_interfaces = false;
    nbt::Provider provider(settings);
    NCB reset{};
    reset.ncb_command = NCBRESET;
    if (provider.Netbios(&reset) != NRC_GOODRET) return 1;
    for (const char *name : {"IDLENODE", "IDLEOTHER"}) {
        NCB add{};
        add.ncb_command = NCBADDNAME;
        Pad(add.ncb_name, name);
        if (provider.Netbios(&add) != NRC_GOODRET) return 2;
    }
    NCB listen{};
    listen.ncb_command = NCBLISTEN | ASYNCH;
    Pad(listen.ncb_name, "IDLENODE");
    Pad(listen.ncb_callname, "*");
    if (provider.Netbios(&listen) != NRC_GOODRET) return 3;
    std::puts("ready");
    std::fflush(stdout);
    for (;;) ::pause();
}
