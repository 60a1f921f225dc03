// SPDX-License-Identifier: MIT
// korveld's clients: every connection to its socket is a program, an NCB
// client of the one Provider (its ClientId), known by SO_PEERCRED. Its
// requests are decoded as strictly as the wire (service_request.h), its NCBs
// carried by the Provider as its own, and its replies queued for it.
//
// Everything runs on the provider's network thread, holding the state lock:
// the NCBs' completions arrive there anyway (their post routines), so a
// reply is queued where it is made, with no hand-over between threads and
// no lock of the server's own.
//
// A client costs the others nothing: a message that does not decode, one cut
// short, a reply queue past its bound (it stopped reading) each drop that
// client alone; its NCBs and their buffers are bounded (NRC_NORES past
// them), and each wake-up serves a bounded number of its requests before the
// others get their turn. A dropped or departed client is Provider::DropClient:
// as if it had reset, its names released and its sessions hung up.
#pragma once

#include <asio.hpp>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "name_resolver.h"
#include "peer_identity.h"
#include "provider.h"
#include "service_reply.h"
#include "service_request.h"

namespace korveld {

struct ServerLimits {
    std::size_t clients = 1024;
    std::size_t blocks_per_client = 512;            // NCBs in the provider at once
    std::size_t block_bytes_per_client = 16 << 20;  // their buffers
    std::size_t queued_reply_bytes = 8 << 20;       // past this a client is taken as not reading
    int requests_per_turn = 32;
};

class Server : public std::enable_shared_from_this<Server> {
public:
    // listen_fd: a listening SOCK_SEQPACKET socket, non-blocking; the
    // server owns it from here on.
    Server(nbt::Provider &provider, int listen_fd, ServerLimits limits = {});
    ~Server();

    // Network thread (IoThread::RunAndWait). Start accepts clients; Stop
    // closes the socket and drops every client.
    void Start();
    void Stop();

    struct Client;
    struct Block;

private:
    void Accept();
    void Watch(const std::shared_ptr<Client> &client);
    void Read(const std::shared_ptr<Client> &client);
    // False when the client is to be dropped.
    bool Serve(const std::shared_ptr<Client> &client, const nbt::service::Request &request);
    void Submit(Client &client, const nbt::service::SubmitRequest &submit);
    void Resolve(const std::shared_ptr<Client> &client, const nbt::service::ResolveRequest &resolve);
    void ViewNames(const std::shared_ptr<Client> &client, const nbt::service::NameCacheRequest &asked);
    void Refuse(Client &client, const nbt::service::SubmitRequest &submit, UCHAR rc);
    // fd: a descriptor to pass with the message (SCM_RIGHTS), owned from here on.
    void Queue(Client &client, std::vector<std::uint8_t> message, int fd = -1);
    // A CALL's or LISTEN's completion that hands its session over, if it can.
    bool HandOver(Client &client, nbt::service::Completion &done, const NCB &ncb);
    void Flush(const std::shared_ptr<Client> &client);
    bool Lingers(const Client &client) const;
    void Drop(Client &client, const std::string &why);
    void Finished(Block *block);
    static void OnDone(NCB *ncb);

    nbt::Provider &provider_;
    const ServerLimits limits_;
    asio::posix::stream_descriptor listener_;
    std::map<nbt::ClientId, std::shared_ptr<Client>> clients_;
    static constexpr nbt::ClientId kResolverClient = 1;
    nbt::ClientId next_client_ = kResolverClient + 1;
    // Every block the provider carries, also those of clients since gone:
    // each is freed when its post routine comes.
    std::unordered_map<NCB *, std::unique_ptr<Block>> blocks_;
    std::vector<std::uint8_t> buffer_;  // two requests at a time
    // The block being handed to the provider, and whether it finished then.
    Block *submitting_ = nullptr;
    bool finished_at_once_ = false;
    std::shared_ptr<NameResolver> resolver_;
};

}  // namespace korveld
