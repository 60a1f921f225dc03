// SPDX-License-Identifier: MIT
// Cost of one trip through the provider's network thread: a synchronous
// Netbios() call, and an asynchronous one completed through an event. The
// command is NCBENUM with host interfaces off, so the trip itself dominates.
#include <benchmark/benchmark.h>

#include <cstring>

#include "nbt_event.h"
#include "provider.h"

namespace {

nbt::Provider &LoopbackOnly() {
    static nbt::Provider provider([] {
        nbt::Settings settings;
        settings.host_interfaces = false;
        return settings;
    }());
    return provider;
}

NCB EnumBlock(LANA_ENUM &lanas) {
    NCB ncb;
    std::memset(&ncb, 0, sizeof ncb);
    ncb.ncb_command = NCBENUM;
    ncb.ncb_buffer = reinterpret_cast<PUCHAR>(&lanas);
    ncb.ncb_length = sizeof lanas;
    return ncb;
}

void BM_SynchronousRoundTrip(benchmark::State &state) {
    auto &provider = LoopbackOnly();
    LANA_ENUM lanas{};
    for (auto _ : state) {
        NCB ncb = EnumBlock(lanas);
        if (provider.Netbios(&ncb) != NRC_GOODRET) state.SkipWithError("NCBENUM failed");
    }
}
BENCHMARK(BM_SynchronousRoundTrip);

void BM_AsynchronousRoundTripWithEvent(benchmark::State &state) {
    auto &provider = LoopbackOnly();
    LANA_ENUM lanas{};
    NbtEvent event;
    for (auto _ : state) {
        NCB ncb = EnumBlock(lanas);
        ncb.ncb_command |= ASYNCH;
        ncb.ncb_event = &event;
        if (provider.Netbios(&ncb) != NRC_GOODRET) state.SkipWithError("NCBENUM not accepted");
        event.Wait();
    }
}
BENCHMARK(BM_AsynchronousRoundTripWithEvent);

}  // namespace

BENCHMARK_MAIN();
