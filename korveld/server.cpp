// SPDX-License-Identifier: MIT
#include "server.h"

#include <errno.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "brief_look.h"
#include "command_table.h"
#include "descriptor_passing.h"
#include "io_thread.h"
#include "name_cache_view.h"
#include "printable.h"
#include "server_client.h"
#include "service_reply.h"
#include "state_lock.h"

namespace korveld {
namespace {

using nbt::service::kMaxMessage;

// The longest a client's names view waits for its lookups.
constexpr std::uint32_t kLongestNameViewMs = 60000;

// A request that comes this soon after the last reply is a program asking in
// a loop; for its next one the server looks a little before it sleeps, since
// waking a sleeping thread can take longer than the whole exchange (tens of
// microseconds on a virtual machine). The look costs at most kLinger of CPU
// per request, and nothing to a program that asks now and then.
constexpr auto kBackToBack = std::chrono::microseconds(50);
constexpr auto kLinger = std::chrono::microseconds(20);

bool ReadableSoon(int fd) {
    pollfd watched{fd, POLLIN, 0};
    return nbt::LookBriefly(&watched, 1, kLinger) != 0;
}

std::string Describe(const Server::Client &client) {
    return "client " + std::to_string(client.id) + " (pid " + std::to_string(client.peer.pid) + " " +
           nbt::Printable(client.peer.program) + ", uid " + std::to_string(client.peer.uid) + ")";
}

}  // namespace

Server::Server(nbt::Provider &provider, int listen_fd, ServerLimits limits)
    : provider_(provider),
      limits_(limits),
      listener_(nbt::IoThread::Get().context(), listen_fd),
      buffer_(2 * kMaxMessage),
      // Its own client: the LANAs it resets for lookups are no program's.
      resolver_(std::make_shared<NameResolver>(provider, kResolverClient)) {}

Server::~Server() = default;

void Server::Start() {
    {
        nbt::StateGuard guard;
        // The program carries those sessions: it is told, as its node would have been.
        provider_.OnHandedNameConflict([this](UCHAR lana, nbt::ClientId id, const nbt::NetbiosName &name) {
            const auto it = clients_.find(id);
            if (it == clients_.end() || it->second->gone) return;
            nbt::service::NameConflict conflict;
            conflict.lana = lana;
            std::copy(name.begin(), name.end(), conflict.name.begin());
            std::vector<std::uint8_t> reply;
            nbt::service::EncodeNameConflict(conflict, reply);
            Queue(*it->second, std::move(reply));
        });
    }
    Accept();
}

void Server::Stop() {
    {
        nbt::StateGuard guard;
        provider_.OnHandedNameConflict(nullptr);
    }
    asio::error_code ignored;
    listener_.close(ignored);
    while (!clients_.empty()) Drop(*clients_.begin()->second, "");
    resolver_->Stop();
}

void Server::Accept() {
    listener_.async_wait(asio::posix::descriptor_base::wait_read,
                         asio::bind_executor(nbt::IoThread::Get().executor(),
                                             [self = shared_from_this()](asio::error_code error) {
                                                 if (error) return;
                                                 self->Accept();
                                             }));
    for (;;) {
        const int fd = ::accept4(listener_.native_handle(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            if (errno != EAGAIN)
                std::fprintf(stderr, "korveld: cannot accept a client: %s\n", std::strerror(errno));
            return;
        }
        if (clients_.size() >= limits_.clients) {
            std::fprintf(stderr, "korveld: %zu clients already; one more turned away\n", clients_.size());
            ::close(fd);
            continue;
        }
        auto client = std::make_shared<Client>(nbt::IoThread::Get().context(), fd);
        if (!IdentifyPeer(fd, &client->peer)) {
            std::fprintf(stderr, "korveld: a client the kernel cannot name turned away\n");
            continue;  // its socket closes with it
        }
        const int room = 4 * static_cast<int>(kMaxMessage);
        ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
        // Numbers wrap after 2^32 connections: never 0 (the process itself,
        // which may use every name and session), the resolver's, or one in use.
        do client->id = next_client_++;
        while (client->id <= kResolverClient || clients_.contains(client->id));
        clients_[client->id] = client;
        Watch(client);
    }
}

void Server::Watch(const std::shared_ptr<Client> &client) {
    client->socket.async_wait(
        asio::posix::descriptor_base::wait_read,
        asio::bind_executor(nbt::IoThread::Get().executor(), [this, client](asio::error_code error) {
            if (client->gone) return;
            if (error) return Drop(*client, error.message());
            Read(client);
        }));
}

void Server::Read(const std::shared_ptr<Client> &client) {
    // Two at a time: fewer back says the socket is empty, so a lone request
    // costs one read and no second one that finds nothing.
    constexpr unsigned kAtOnce = 2;
    for (int turn = 0; turn < limits_.requests_per_turn; turn += kAtOnce) {
        iovec chunks[kAtOnce];
        mmsghdr headers[kAtOnce]{};
        for (unsigned i = 0; i < kAtOnce; ++i) {
            chunks[i] = {buffer_.data() + i * kMaxMessage, kMaxMessage};
            headers[i].msg_hdr.msg_iov = &chunks[i];
            headers[i].msg_hdr.msg_iovlen = 1;
        }
        int got = ::recvmmsg(client->socket.native_handle(), headers, kAtOnce, MSG_DONTWAIT, nullptr);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && errno != EAGAIN) return Drop(*client, std::strerror(errno));
        if (got < 0) got = 0;  // nothing there
        if (got > 0)
            client->asking_in_a_loop = std::chrono::steady_clock::now() - client->answered < kBackToBack;
        for (int i = 0; i < got; ++i) {
            const std::size_t length = headers[i].msg_len;
            if (length == 0) return Drop(*client, "");  // it went away
            if (headers[i].msg_hdr.msg_flags & MSG_TRUNC)
                return Drop(*client, "a request longer than any there is");
            const auto request = nbt::service::DecodeRequest({buffer_.data() + i * kMaxMessage, length});
            if (!request) return Drop(*client, "a request that does not decode");
            if (!Serve(client, *request) || client->gone) return;
        }
        if (got < static_cast<int>(kAtOnce)) {
            if (Lingers(*client) && ReadableSoon(client->socket.native_handle())) continue;
            return Watch(client);
        }
    }
    // The others' turn; this one's next requests come after theirs.
    asio::post(nbt::IoThread::Get().executor(), [this, client] {
        if (!client->gone) Read(client);
    });
}

bool Server::Serve(const std::shared_ptr<Client> &shared, const nbt::service::Request &request) {
    Client &client = *shared;
    std::vector<std::uint8_t> reply;
    switch (request.type) {
        case nbt::service::RequestType::kResolveName:
            Resolve(shared, request.resolve);
            return !client.gone;
        case nbt::service::RequestType::kNameCache:
            ViewNames(shared, request.name_cache);
            return !client.gone;
        case nbt::service::RequestType::kSubmit:
            if (client.blocks.contains(request.submit.id)) {
                Drop(client, "two blocks under one id");
                return false;
            }
            Submit(client, request.submit);
            return true;
        case nbt::service::RequestType::kSessionOver: {
            const auto &over = request.over;
            provider_.HandedSessionOver(over.lana, over.lsn, client.id, over.sent, over.received,
                                        over.send_failures);
            return true;
        }
        case nbt::service::RequestType::kLanas: {
            std::vector<nbt::service::LanaEntry> lanas;
            const nbt::Settings &settings = provider_.settings();
            for (const nbt::Lana &lana : provider_.Lanas()) {
                if (lana.loopback) continue;  // each program's own
                lanas.push_back({lana.number, lana.interface_name, lana.address.to_uint(),
                                 lana.broadcast.to_uint(), lana.mac, settings.name_port,
                                 settings.datagram_port, settings.session_port});
            }
            nbt::service::EncodeLanaList(lanas, reply);
            break;
        }
        case nbt::service::RequestType::kNameOwners: {
            std::vector<nbt::service::OwnerEntry> owners;
            for (const nbt::NameOwner &owner : provider_.NameOwners(request.lana)) {
                nbt::service::OwnerEntry entry;
                std::copy(owner.name.begin(), owner.name.end(), entry.name.begin());
                if (const auto it = clients_.find(owner.client); it != clients_.end()) {
                    entry.pid = static_cast<std::uint32_t>(it->second->peer.pid);
                    entry.uid = it->second->peer.uid;
                    entry.program = it->second->peer.program;
                }
                owners.push_back(std::move(entry));
            }
            nbt::service::EncodeOwnerList(owners, reply);
            break;
        }
    }
    Queue(client, std::move(reply));
    return !client.gone;
}

void Server::Resolve(const std::shared_ptr<Client> &client, const nbt::service::ResolveRequest &resolve) {
    if (client->resolving >= limits_.blocks_per_client) {
        std::vector<std::uint8_t> reply;
        nbt::service::EncodeResolution({resolve.id, false, {}}, reply);  // too many at once: not found
        return Queue(*client, std::move(reply));
    }
    ++client->resolving;
    resolver_->Resolve(resolve.name, [this, weak = std::weak_ptr(client),
                                      id = resolve.id](nbt::service::Resolution resolution) {
        const auto client = weak.lock();
        if (!client || client->gone) return;
        --client->resolving;
        resolution.id = id;
        std::vector<std::uint8_t> reply;
        nbt::service::EncodeResolution(resolution, reply);
        Queue(*client, std::move(reply));
    });
}

void Server::ViewNames(const std::shared_ptr<Client> &client, const nbt::service::NameCacheRequest &asked) {
    // LANA 0 is each program's own; past its lookups' bound a client is
    // told nothing is open, as for a LANA nobody reset.
    if (asked.lana == 0 || client->resolving >= limits_.blocks_per_client) {
        nbt::service::NameCacheReport report;
        report.id = asked.id;
        std::vector<std::uint8_t> reply;
        nbt::service::EncodeNameCacheView(report, reply);
        return Queue(*client, std::move(reply));
    }
    ++client->resolving;
    const auto wait = std::chrono::milliseconds(std::min<std::uint32_t>(asked.wait_ms, kLongestNameViewMs));
    nbt::ResolveAndViewNames(provider_, asked.lana, asked.names, wait,
                             [this, weak = std::weak_ptr(client), id = asked.id](nbt::NameCacheView view) {
                                 const auto client = weak.lock();
                                 if (!client || client->gone) return;
                                 --client->resolving;
                                 nbt::service::NameCacheReport report = nbt::ReportOf(view);
                                 report.id = id;
                                 std::vector<std::uint8_t> reply;
                                 nbt::service::EncodeNameCacheView(report, reply);
                                 Queue(*client, std::move(reply));
                             });
}

void Server::Refuse(Client &client, const nbt::service::SubmitRequest &submit, UCHAR rc) {
    std::vector<std::uint8_t> reply;
    if (submit.flags & nbt::service::kWantsAnswer) {
        nbt::service::EncodeRefused(submit.id, rc, reply);
    } else {
        nbt::service::Completion done;
        done.id = submit.id;
        done.rc = rc;
        done.lsn = submit.lsn;
        done.num = submit.num;
        done.length = submit.length;
        done.callname = submit.callname;
        done.name = submit.name;
        nbt::service::EncodeCompletion(done, reply);
    }
    Queue(client, std::move(reply));
}

void Server::Submit(Client &client, const nbt::service::SubmitRequest &submit) {
    // LANA 0 is each program's own node, never the service's.
    if (submit.lana == 0 && nbt::CommandCode(submit.command) != NCBENUM)
        return Refuse(client, submit, NRC_BRIDGE);
    const bool has_buffer = !(submit.flags & nbt::service::kNoBuffer);
    const std::size_t bytes = (has_buffer ? submit.length : 0) +
                              (nbt::service::IsChainSend(submit.command) ? submit.chained.size() : 0);
    if (client.blocks.size() >= limits_.blocks_per_client ||
        client.block_bytes + bytes > limits_.block_bytes_per_client)
        return Refuse(client, submit, NRC_NORES);

    auto owned = std::make_unique<Block>();
    Block *block = owned.get();
    block->server = this;
    block->client = client.id;
    block->id = submit.id;
    block->callname = submit.callname;
    NCB &ncb = block->ncb;
    ncb.ncb_command = submit.command | ASYNCH;
    ncb.ncb_lsn = submit.lsn;
    ncb.ncb_num = submit.num;
    ncb.ncb_lana_num = submit.lana;
    ncb.ncb_length = submit.length;
    ncb.ncb_rto = submit.rto;
    ncb.ncb_sto = submit.sto;
    std::copy(submit.callname.begin(), submit.callname.end(), ncb.ncb_callname);
    std::copy(submit.name.begin(), submit.name.end(), ncb.ncb_name);
    ncb.ncb_post = &Server::OnDone;
    if (nbt::CommandCode(submit.command) == NCBCANCEL) {
        // Only a block of this client's own can be named: ids are its own.
        const auto target = client.blocks.find(submit.cancel_target);
        block->no_target.ncb_command = submit.cancel_command;
        ncb.ncb_buffer = !has_buffer                     ? nullptr
                         : target != client.blocks.end() ? reinterpret_cast<PUCHAR>(&target->second->ncb)
                                                         : reinterpret_cast<PUCHAR>(&block->no_target);
    } else if (has_buffer) {
        block->buffer.assign(submit.length, 0);
        std::copy(submit.data.begin(), submit.data.end(), block->buffer.begin());
        ncb.ncb_buffer = block->buffer.data();
    }
    if (nbt::service::IsChainSend(submit.command) && !(submit.flags & nbt::service::kNoChained)) {
        block->chained.assign(submit.chained.begin(), submit.chained.end());
        const UCHAR *address = block->chained.data();
        std::memcpy(ncb.ncb_callname + sizeof(WORD), &address, sizeof address);
    }

    client.blocks[submit.id] = block;
    client.block_bytes += block->bytes();
    blocks_[&block->ncb] = std::move(owned);
    // Carried at once; should it finish at once, its completion waits for
    // the answer that it was accepted.
    submitting_ = block;
    finished_at_once_ = false;
    const UCHAR rc = provider_.NetbiosAtOnce(&block->ncb, client.id);
    submitting_ = nullptr;
    if (rc != NRC_GOODRET) {
        // Refused at once: no post routine comes for it.
        client.blocks.erase(submit.id);
        client.block_bytes -= block->bytes();
        blocks_.erase(&block->ncb);
        return Refuse(client, submit, rc);
    }
    if (submit.flags & nbt::service::kWantsAnswer) {
        std::vector<std::uint8_t> reply;
        nbt::service::EncodeAccepted(submit.id, reply);
        Queue(client, std::move(reply));
    }
    if (finished_at_once_) Finished(block);
}

void Server::OnDone(NCB *ncb) {
    Block *block = reinterpret_cast<Block *>(ncb);
    block->server->Finished(block);
}

void Server::Finished(Block *block) {
    const auto owned = blocks_.find(&block->ncb);
    if (owned == blocks_.end()) return;
    if (block == submitting_) {
        finished_at_once_ = true;
        return;
    }
    const auto it = clients_.find(block->client);
    if (it != clients_.end()) {
        Client &client = *it->second;
        client.blocks.erase(block->id);
        client.block_bytes -= block->bytes();
        const NCB &ncb = block->ncb;
        nbt::service::Completion done;
        done.id = block->id;
        done.rc = ncb.ncb_retcode;
        done.lsn = ncb.ncb_lsn;
        done.num = ncb.ncb_num;
        done.length = ncb.ncb_length;
        done.callname = block->callname;
        if (!nbt::service::IsChainSend(ncb.ncb_command))
            std::copy(std::begin(ncb.ncb_callname), std::end(ncb.ncb_callname), done.callname.begin());
        std::copy(std::begin(ncb.ncb_name), std::end(ncb.ncb_name), done.name.begin());
        if (nbt::service::ReturnsData(ncb.ncb_command) && (done.rc == NRC_GOODRET || done.rc == NRC_INCOMP))
            done.data = std::span<const std::uint8_t>(block->buffer)
                            .first(std::min<std::size_t>(ncb.ncb_length, block->buffer.size()));
        if (!HandOver(client, done, ncb)) {
            std::vector<std::uint8_t> reply;
            nbt::service::EncodeCompletion(done, reply);
            Queue(client, std::move(reply));
        }
    }
    blocks_.erase(owned);
}

bool Server::HandOver(Client &client, nbt::service::Completion &done, const NCB &ncb) {
    const UCHAR code = nbt::CommandCode(ncb.ncb_command);
    if ((code != NCBCALL && code != NCBLISTEN) || done.rc != NRC_GOODRET) return false;
    // Its messages go straight between the program and the peer from now
    // on; this process only keeps the number until the program says it is over.
    std::vector<std::uint8_t> unread;
    const int fd =
        provider_.HandOverSession(ncb.ncb_lana_num, ncb.ncb_lsn, client.id, &unread, &done.name_number);
    if (fd < 0) return false;
    done.unread = unread;
    std::vector<std::uint8_t> reply;
    if (!nbt::service::EncodeSessionHanded(done, reply)) {
        // Never more than one message is read ahead; should it be, the session ends.
        ::close(fd);
        provider_.HandedSessionOver(ncb.ncb_lana_num, ncb.ncb_lsn, client.id, 0, 0, 0);
        done.rc = NRC_SABORT;
        return false;
    }
    Queue(client, std::move(reply), fd);
    return true;
}

void Server::Queue(Client &client, std::vector<std::uint8_t> message, int fd) {
    if (client.gone || client.queued_bytes + message.size() > limits_.queued_reply_bytes) {
        if (fd >= 0) ::close(fd);
        if (!client.gone) Drop(client, "it stopped reading its replies");
        return;
    }
    client.queued_bytes += message.size();
    client.replies.push_back({std::move(message), fd});
    if (!client.writing) Flush(clients_.at(client.id));
}

void Server::Flush(const std::shared_ptr<Client> &client) {
    client->writing = false;
    while (!client->replies.empty()) {
        const auto &reply = client->replies.front();
        const ssize_t sent = nbt::SendWithDescriptor(client->socket.native_handle(), reply.bytes, reply.fd);
        if (sent < 0 && errno == EINTR) continue;
        if (sent < 0 && errno == EAGAIN) {
            client->writing = true;
            client->socket.async_wait(
                asio::posix::descriptor_base::wait_write,
                asio::bind_executor(nbt::IoThread::Get().executor(), [this, client](asio::error_code error) {
                    if (client->gone) return;
                    if (error) return Drop(*client, error.message());
                    Flush(client);
                }));
            return;
        }
        if (sent < 0) return Drop(*client, "");  // it went away
        client->queued_bytes -= reply.bytes.size();
        if (reply.fd >= 0) ::close(reply.fd);
        client->replies.pop_front();
        if (client->replies.empty()) client->answered = std::chrono::steady_clock::now();
    }
}

bool Server::Lingers(const Client &client) const {
    // Only once all it asked is answered and out: then what comes next is its
    // next request, not an answer from the wire it waits for meanwhile.
    return client.asking_in_a_loop && client.replies.empty() && client.blocks.empty() &&
           client.resolving == 0;
}

void Server::Drop(Client &client, const std::string &why) {
    if (client.gone) return;
    client.gone = true;
    if (!why.empty())
        std::fprintf(stderr, "korveld: dropped %s: %s\n", Describe(client).c_str(), why.c_str());
    asio::error_code ignored;
    client.socket.cancel(ignored);
    client.socket.close(ignored);
    for (const auto &reply : client.replies)
        if (reply.fd >= 0) ::close(reply.fd);
    client.replies.clear();
    const nbt::ClientId id = client.id;
    const auto keep = clients_[id];  // the client outlives its erasure here
    clients_.erase(id);
    // Its blocks end through their post routines, which find it gone.
    provider_.DropClient(id);
}

}  // namespace korveld
