// SPDX-License-Identifier: MIT
// Completion of the asynchronous forms and what a reset does to commands
// still pending. A test hook keeps chosen NCBs pending in the node, so the
// core is checked without depending on a service that blocks.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "loopback_settings.h"
#include "nbt_event.h"
#include "ncb_helpers.h"
#include "provider.h"
#include "state_lock.h"

namespace nbt {
namespace {

using namespace std::chrono_literals;
using testing::Eventually;
using testing::LoopbackSettings;
using testing::MakeNcb;
using testing::ResetLana;

// Settings whose nodes keep every LISTEN pending until a reset.
Settings HoldingListens() {
    Settings settings = LoopbackSettings();
    settings.hold_for_test = [](const NCB &ncb) { return (ncb.ncb_command & ~ASYNCH) == NCBLISTEN; };
    return settings;
}

// Post routines are plain function pointers: record through globals.
std::promise<std::pair<NCB *, UCHAR>> *g_posted = nullptr;
std::atomic<std::thread::id> g_post_thread;

void RecordPost(NCB *ncb) {
    g_post_thread = std::this_thread::get_id();
    if (g_posted) g_posted->set_value({ncb, ncb->ncb_retcode});
}

TEST(StateLock, AThreadBlockedOnItGoesBeforeOneThatLetsItGoAndComesStraightBack) {
    // A caller running synchronous commands back to back must not keep the
    // network thread out for as long as it loops.
    std::optional<StateGuard> looping(std::in_place);
    std::atomic<bool> blocked_one_had_it{false};
    std::thread blocked([&] {
        StateGuard guard;
        blocked_one_had_it = true;
    });
    ASSERT_TRUE(Eventually([] { return StateGuard::Blocked() == 1; }));
    looping.reset();
    looping.emplace();
    EXPECT_TRUE(blocked_one_had_it);
    looping.reset();
    blocked.join();
    EXPECT_EQ(StateGuard::Blocked(), 0);
}

TEST(ProviderAsync, PostRoutineRunsOnceOnTheNetworkThread) {
    Provider provider(LoopbackSettings());
    LANA_ENUM lanas{};
    NCB ncb = MakeNcb(NCBENUM | ASYNCH);
    ncb.ncb_buffer = reinterpret_cast<PUCHAR>(&lanas);
    ncb.ncb_length = sizeof lanas;
    ncb.ncb_post = RecordPost;
    std::promise<std::pair<NCB *, UCHAR>> posted;
    g_posted = &posted;
    ASSERT_EQ(provider.Netbios(&ncb), NRC_GOODRET);
    auto done = posted.get_future();
    ASSERT_EQ(done.wait_for(5s), std::future_status::ready);
    auto [block, rc] = done.get();
    g_posted = nullptr;
    EXPECT_EQ(block, &ncb);
    EXPECT_EQ(rc, NRC_GOODRET);
    EXPECT_EQ(ncb.ncb_cmd_cplt, NRC_GOODRET);
    EXPECT_EQ(lanas.length, 1);
    EXPECT_NE(g_post_thread.load(), std::this_thread::get_id());
}

TEST(ProviderAsync, EventIsSetWhenAResetCancelsAHeldCommand) {
    Provider provider(HoldingListens());
    ASSERT_EQ(ResetLana(provider), NRC_GOODRET);

    NbtEvent event;
    event.Set();  // Netbios() clears it when it takes the block
    NCB listen = MakeNcb(NCBLISTEN | ASYNCH);
    listen.ncb_event = &event;
    ASSERT_EQ(provider.Netbios(&listen), NRC_GOODRET);
    EXPECT_EQ(listen.ncb_retcode, NRC_PENDING);
    EXPECT_FALSE(event.WaitFor(100ms));
    EXPECT_EQ(listen.ncb_cmd_cplt, NRC_PENDING);

    ASSERT_EQ(ResetLana(provider), NRC_GOODRET);
    ASSERT_TRUE(event.WaitFor(5s));
    EXPECT_EQ(listen.ncb_retcode, NRC_CMDCAN);
    EXPECT_EQ(listen.ncb_cmd_cplt, NRC_CMDCAN);
}

TEST(ProviderAsync, ResetReleasesABlockedSynchronousCaller) {
    Provider provider(HoldingListens());
    ASSERT_EQ(ResetLana(provider), NRC_GOODRET);
    NCB listen = MakeNcb(NCBLISTEN);
    auto caller = std::async(std::launch::async, [&] { return provider.Netbios(&listen); });
    EXPECT_EQ(caller.wait_for(100ms), std::future_status::timeout);

    // Freeing the LANA ends it too.
    ASSERT_EQ(ResetLana(provider, 0, 1), NRC_GOODRET);
    ASSERT_EQ(caller.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(caller.get(), NRC_CMDCAN);
}

TEST(ProviderAsync, DestroyingTheProviderReleasesPendingCommands) {
    NbtEvent event;
    NCB listen = MakeNcb(NCBLISTEN | ASYNCH);
    listen.ncb_event = &event;
    {
        Provider provider(HoldingListens());
        ASSERT_EQ(ResetLana(provider), NRC_GOODRET);
        ASSERT_EQ(provider.Netbios(&listen), NRC_GOODRET);
    }
    EXPECT_TRUE(event.IsSet());
    EXPECT_EQ(listen.ncb_retcode, NRC_CMDCAN);
}

TEST(ProviderAsync, NcbLimitFromTheResetGivesTooMany) {
    Provider provider(HoldingListens());
    ASSERT_EQ(ResetLana(provider, 0, 0, 0, /*ncbs=*/2), NRC_GOODRET);
    NbtEvent first_done, second_done;
    NCB first = MakeNcb(NCBLISTEN | ASYNCH), second = MakeNcb(NCBLISTEN | ASYNCH);
    first.ncb_event = &first_done;
    second.ncb_event = &second_done;
    ASSERT_EQ(provider.Netbios(&first), NRC_GOODRET);
    ASSERT_EQ(provider.Netbios(&second), NRC_GOODRET);
    NCB third = MakeNcb(NCBLISTEN);
    EXPECT_EQ(provider.Netbios(&third), NRC_TOOMANY);
    ASSERT_EQ(ResetLana(provider), NRC_GOODRET);
    EXPECT_TRUE(first_done.WaitFor(5s));
    EXPECT_TRUE(second_done.WaitFor(5s));
}

TEST(ProviderAsync, ABlockStillInFlightIsNotTouched) {
    Provider provider(HoldingListens());
    ASSERT_EQ(ResetLana(provider), NRC_GOODRET);
    NbtEvent event;
    NCB listen = MakeNcb(NCBLISTEN | ASYNCH);
    listen.ncb_event = &event;
    ASSERT_EQ(provider.Netbios(&listen), NRC_GOODRET);
    // Submitting it again while pending is refused and leaves it pending.
    EXPECT_EQ(provider.Netbios(&listen), NRC_IFBUSY);
    EXPECT_EQ(listen.ncb_retcode, NRC_PENDING);
    ASSERT_EQ(ResetLana(provider), NRC_GOODRET);
    ASSERT_TRUE(event.WaitFor(5s));
    // Finished blocks may be used again.
    listen.ncb_command = NCBENUM;
    LANA_ENUM lanas{};
    listen.ncb_buffer = reinterpret_cast<PUCHAR>(&lanas);
    listen.ncb_length = sizeof lanas;
    EXPECT_EQ(provider.Netbios(&listen), NRC_GOODRET);
}

TEST(ProviderAsync, AnEventMayBeDestroyedAsSoonAsItIsSeenSet) {
    // The waiter frees the event the moment it wakes, while the network
    // thread may still be inside Set(). Run under the sanitizers.
    Provider provider(LoopbackSettings());
    LANA_ENUM lanas{};
    for (int i = 0; i < 2000; ++i) {
        auto event = std::make_unique<NbtEvent>();
        NCB ncb = MakeNcb(NCBENUM | ASYNCH);
        ncb.ncb_buffer = reinterpret_cast<PUCHAR>(&lanas);
        ncb.ncb_length = sizeof lanas;
        ncb.ncb_event = event.get();
        ASSERT_EQ(provider.Netbios(&ncb), NRC_GOODRET);
        while (!event->IsSet()) {
        }
        event.reset();
        EXPECT_EQ(ncb.ncb_retcode, NRC_GOODRET);
    }
}

void PostNothing(NCB *) {}

NCB HeldListen(HANDLE event, void (*post)(NCB *) = nullptr) {
    NCB listen = MakeNcb(NCBLISTEN | ASYNCH);
    listen.ncb_event = event;
    listen.ncb_post = post;
    return listen;
}

UCHAR CancelOf(Provider &provider, NCB &target) {
    NCB cancel = MakeNcb(NCBCANCEL);
    cancel.ncb_buffer = reinterpret_cast<PUCHAR>(&target);
    return provider.Netbios(&cancel);
}

TEST(ProviderAsync, AnEventMayBeFreedOrReusedOnceItsBlockIsSeenDone) {
    // Another thread cancels a block with a post routine, then one with an
    // event, while the caller polls the second's ncb_cmd_cplt. Once it is
    // done the caller frees the event (every other round) or gives it to its
    // next block. Neither may meet the old block's Set() later: a write into
    // freed memory (the sanitizers), or the new block's event set while it
    // is pending.
    Provider provider(HoldingListens());
    ASSERT_EQ(ResetLana(provider), NRC_GOODRET);
    HANDLE event = NbtEventCreate();
    for (int round = 0; round < 600; ++round) {
        NCB posted = HeldListen(nullptr, PostNothing);
        NCB listen = HeldListen(event);
        ASSERT_EQ(provider.Netbios(&posted), NRC_GOODRET);
        ASSERT_EQ(provider.Netbios(&listen), NRC_GOODRET);
        std::thread canceller([&] {
            CancelOf(provider, posted);
            CancelOf(provider, listen);
        });
        while (std::atomic_ref<UCHAR>(listen.ncb_cmd_cplt).load(std::memory_order_acquire) == NRC_PENDING) {
        }
        if (round % 2 == 0) {
            NbtEventClose(event);
            event = NbtEventCreate();
            canceller.join();
            continue;
        }
        NCB next = HeldListen(event);
        ASSERT_EQ(provider.Netbios(&next), NRC_GOODRET);
        canceller.join();
        ASSERT_TRUE(Eventually([&] { return posted.ncb_cmd_cplt != NRC_PENDING; }));
        ASSERT_FALSE(NbtEventWait(event, 0)) << "round " << round;
        ASSERT_EQ(CancelOf(provider, next), NRC_GOODRET);
        ASSERT_TRUE(NbtEventWait(event, 5000));
    }
    NbtEventClose(event);
}

TEST(ProviderAsync, ABlockMayBeFreedAsSoonAsItsCompletionIsSeen) {
    // Without a post routine or an event the caller polls ncb_cmd_cplt and
    // may free the block the moment it changes. Run under the sanitizers;
    // a read after that shows only when the network thread is held up right
    // after the store, so there are many blocks, in batches that the network
    // thread finishes back to back while the caller waits on each in turn.
#ifdef __SANITIZE_ADDRESS__
    constexpr int kBatches = 10000;
#else
    constexpr int kBatches = 500;
#endif
    constexpr int kBatch = 32;
    Provider provider(LoopbackSettings());
    LANA_ENUM lanas{};
    for (int batch = 0; batch < kBatches; ++batch) {
        std::vector<std::unique_ptr<NCB>> blocks;
        for (int i = 0; i < kBatch; ++i) {
            auto ncb = std::make_unique<NCB>(MakeNcb(NCBENUM | ASYNCH));
            ncb->ncb_buffer = reinterpret_cast<PUCHAR>(&lanas);
            ncb->ncb_length = sizeof lanas;
            EXPECT_EQ(provider.Netbios(ncb.get()), NRC_GOODRET);
            blocks.push_back(std::move(ncb));
        }
        for (auto &ncb : blocks) {
            while (std::atomic_ref<UCHAR>(ncb->ncb_cmd_cplt).load(std::memory_order_acquire) == NRC_PENDING) {
            }
            ncb.reset();
        }
    }
}

void ThrowFromPost(NCB *) {
    throw std::runtime_error("post routine");
}

TEST(ProviderAsync, APostRoutineThatThrowsDoesNotStopAReset) {
    Provider provider(HoldingListens());
    ASSERT_EQ(ResetLana(provider), NRC_GOODRET);
    const auto thrown = ThrownPostRoutines();
    // Cancelled in this order: throwing, waiting, throwing, waiting.
    NCB throwing[2], waiting[2];
    NbtEvent done[2];
    for (int i = 0; i < 2; ++i) {
        throwing[i] = MakeNcb(NCBLISTEN | ASYNCH);
        throwing[i].ncb_post = ThrowFromPost;
        waiting[i] = MakeNcb(NCBLISTEN | ASYNCH);
        waiting[i].ncb_event = &done[i];
        ASSERT_EQ(provider.Netbios(&throwing[i]), NRC_GOODRET);
        ASSERT_EQ(provider.Netbios(&waiting[i]), NRC_GOODRET);
    }
    EXPECT_EQ(ResetLana(provider), NRC_GOODRET);
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(done[i].WaitFor(5s));
        EXPECT_EQ(waiting[i].ncb_retcode, NRC_CMDCAN);
        EXPECT_EQ(throwing[i].ncb_retcode, NRC_CMDCAN);
    }
    // Events are set as their blocks complete, post routines run after.
    EXPECT_TRUE(Eventually([&] { return ThrownPostRoutines() - thrown == 2u; }));
    // The network thread and the new node go on.
    LANA_ENUM lanas{};
    NCB enumerate = MakeNcb(NCBENUM);
    enumerate.ncb_buffer = reinterpret_cast<PUCHAR>(&lanas);
    enumerate.ncb_length = sizeof lanas;
    EXPECT_EQ(provider.Netbios(&enumerate), NRC_GOODRET);
    EXPECT_TRUE(provider.LanaAddress(0).has_value());
}

// A post routine may submit the next asynchronous command; a synchronous one
// would wait for the thread it runs on, so it is refused.
Provider *g_chain_provider = nullptr;
NCB g_chained;
std::promise<UCHAR> *g_sync_from_post = nullptr;
std::promise<UCHAR> *g_chained_done = nullptr;

void ChainedDone(NCB *ncb) {
    g_chained_done->set_value(ncb->ncb_retcode);
}

void SubmitFromPost(NCB *) {
    NCB sync = MakeNcb(NCBENUM);
    LANA_ENUM lanas{};
    sync.ncb_buffer = reinterpret_cast<PUCHAR>(&lanas);
    sync.ncb_length = sizeof lanas;
    g_sync_from_post->set_value(g_chain_provider->Netbios(&sync));
    g_chained = MakeNcb(NCBENUM | ASYNCH);
    static LANA_ENUM chained_lanas;
    g_chained.ncb_buffer = reinterpret_cast<PUCHAR>(&chained_lanas);
    g_chained.ncb_length = sizeof chained_lanas;
    g_chained.ncb_post = ChainedDone;
    g_chain_provider->Netbios(&g_chained);
}

TEST(ProviderAsync, PostRoutineMaySubmitOnlyAsynchronousCommands) {
    Provider provider(LoopbackSettings());
    std::promise<UCHAR> sync_result, chained_result;
    g_chain_provider = &provider;
    g_sync_from_post = &sync_result;
    g_chained_done = &chained_result;
    LANA_ENUM lanas{};
    NCB first = MakeNcb(NCBENUM | ASYNCH);
    first.ncb_buffer = reinterpret_cast<PUCHAR>(&lanas);
    first.ncb_length = sizeof lanas;
    first.ncb_post = SubmitFromPost;
    ASSERT_EQ(provider.Netbios(&first), NRC_GOODRET);
    auto sync_rc = sync_result.get_future();
    auto chained_rc = chained_result.get_future();
    ASSERT_EQ(sync_rc.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(sync_rc.get(), NRC_IFBUSY);
    ASSERT_EQ(chained_rc.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(chained_rc.get(), NRC_GOODRET);
}

}  // namespace
}  // namespace nbt
