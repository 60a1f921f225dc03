// SPDX-License-Identifier: MIT
#include "socket_poller.h"

#include <fcntl.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <vector>

#include "io_thread.h"

namespace nbt {

ProcessSlot<SocketPoller> &SocketPoller::Slot() {
    static auto *slot = new ProcessSlot<SocketPoller>;
    return *slot;
}

SocketPoller &SocketPoller::Get() {
    // Never destroyed: sessions may close their sockets while statics are
    // being torn down at exit.
    return Slot().Get([] { return new SocketPoller; });
}

SocketPoller::SocketPoller()
    : epoll_fd_(::epoll_create1(EPOLL_CLOEXEC)),
      descriptor_(IoThread::Get().executor()),
      recheck_timer_(IoThread::Get().executor()) {
    if (epoll_fd_ < 0) return;  // Add() then says no: such a session ends its LISTEN or CALL with NRC_NORES
    asio::error_code ignored;
    descriptor_.assign(epoll_fd_, ignored);
    WaitForReady();
}

void SocketPoller::WaitForReady() {
    descriptor_.async_wait(asio::posix::descriptor_base::wait_read, [this](const asio::error_code &ec) {
        if (ec) return;
        // Waiting again first: what a socket's owner sends last should be
        // the last thing this thread does before it sleeps.
        WaitForReady();
        OnReady();
    });
}

void SocketPoller::OnReady() {
    std::array<epoll_event, 64> events;
    int n;
    do {
        n = ::epoll_wait(epoll_fd_, events.data(), static_cast<int>(events.size()), 0);
        // Owners first, then their calls: one may close and remove another.
        std::vector<std::pair<std::shared_ptr<PolledSocket>, std::uint32_t>> ready;
        for (int i = 0; i < n; ++i) {
            // Copied out first: epoll_event is packed, its fields unaligned.
            const std::uint64_t key = events[i].data.u64;
            const std::uint32_t what = events[i].events;
            const auto it = owners_.find(key);
            if (it == owners_.end()) continue;
            if (auto owner = it->second.lock()) ready.emplace_back(std::move(owner), what);
        }
        for (auto &[owner, what] : ready) owner->OnReady(what);
    } while (n == static_cast<int>(events.size()));
}

std::uint64_t SocketPoller::Add(int fd, std::weak_ptr<PolledSocket> owner) {
    if (epoll_fd_ < 0) return 0;
    const std::uint64_t key = next_key_++;
    epoll_event event{};
    event.events = EPOLLONESHOT;
    event.data.u64 = key;
    if (::epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, fd, &event) != 0) return 0;
    owners_.emplace(key, std::move(owner));
    return key;
}

bool SocketPoller::Arm(std::uint64_t key, int fd, std::uint32_t events, bool once) {
    epoll_event event{};
    event.events = events | (once ? std::uint32_t{EPOLLONESHOT} : 0u);
    event.data.u64 = key;
    return ::epoll_ctl(epoll_fd_, EPOLL_CTL_MOD, fd, &event) == 0;
}

// Long against a message's round trip, short against anything a peer waits
// for: the socket is read the moment it is armed if bytes came meanwhile.
constexpr auto kRecheckDelay = std::chrono::milliseconds(10);

void SocketPoller::RecheckLater(std::uint64_t key) {
    // Once per socket however often it asks: a caller leaves it once a message.
    if (std::find(recheck_.begin(), recheck_.end(), key) == recheck_.end()) recheck_.push_back(key);
    if (recheck_armed_) return;
    recheck_armed_ = true;
    recheck_timer_.expires_after(kRecheckDelay);
    recheck_timer_.async_wait([this](const asio::error_code &) { OnRecheckDue(); });
}

void SocketPoller::OnRecheckDue() {
    recheck_armed_ = false;
    std::vector<std::uint64_t> due;
    due.swap(recheck_);
    std::vector<std::shared_ptr<PolledSocket>> owners;
    for (const std::uint64_t key : due) {
        const auto it = owners_.find(key);
        if (it == owners_.end()) continue;
        if (auto owner = it->second.lock()) owners.push_back(std::move(owner));
    }
    for (const auto &owner : owners) owner->Recheck();
}

void SocketPoller::Remove(std::uint64_t key, int fd) {
    epoll_event unused{};
    ::epoll_ctl(epoll_fd_, EPOLL_CTL_DEL, fd, &unused);
    owners_.erase(key);
}

bool PolledFd::Attach(int fd, std::weak_ptr<PolledSocket> owner, bool level) {
    Close();
    if (fd < 0) return false;
    level_ = level;
    key_ = SocketPoller::Get().Add(fd, std::move(owner));
    if (key_ == 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

void PolledFd::Watch(std::uint32_t want, bool later) {
    if (fd_ < 0 || want == watched_) return;
    if (later && (want & ~watched_)) return SocketPoller::Get().RecheckLater(key_);
    // Disarmed one-shot even when level: an error the kernel reports
    // unasked then wakes the network thread once, not until it is read. A
    // wait for room stays one-shot too: room is there most of the time.
    const bool once = !level_ || want != std::uint32_t{EPOLLIN};
    if (SocketPoller::Get().Arm(key_, fd_, want, once)) {
        watched_ = want;
        once_ = once;
    }
}

void PolledFd::RecheckLater() {
    if (fd_ >= 0) SocketPoller::Get().RecheckLater(key_);
}

bool PolledFd::Replace(int fd, std::weak_ptr<PolledSocket> owner) {
    if (fd_ < 0 || fd < 0) return Attach(fd, std::move(owner), level_);
    SocketPoller::Get().Remove(key_, fd_);
    const int number = fd_;
    fd_ = -1;
    watched_ = 0;
    once_ = true;
    const bool moved = ::dup3(fd, number, O_CLOEXEC) == number;
    ::close(fd);
    if (!moved) {
        ::close(number);
        return false;
    }
    return Attach(number, std::move(owner), level_);
}

void PolledFd::Close() {
    if (fd_ < 0) return;
    SocketPoller::Get().Remove(key_, fd_);
    ::close(fd_);
    fd_ = -1;
    watched_ = 0;
    once_ = true;
}

}  // namespace nbt
