// SPDX-License-Identifier: MIT
// libnss_korvel.so.2: the hosts database for NetBIOS names, asked of korveld
// (hosts: files korvel dns). It loads into every program that resolves a
// host name, so it stays small: libc only, no threads, no exceptions, no
// constructors, and never a packet of its own. korveld does the asking,
// with its own node types, name servers, cache and scope.
//
// Only a name that can be a NetBIOS name is asked for: one label of 1 to 15
// bytes. Anything else, a service that is not there, or one that does not
// answer in time is NOTFOUND, so the lookup goes on to the next source.
// korveld answers within its broadcast query time; a service that hangs
// holds a lookup kLongestResolveMs at most.
#include <errno.h>
#include <netdb.h>
#include <nss.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

#include "provider_choice.h"
#include "service_protocol.h"

namespace {

using nbt::service::kLongestResolveMs;
using nbt::service::kMaxResolvedAddresses;

constexpr std::size_t kNameLength = 15;
// Each name is asked for as a server (<20>) and as a workstation (<00>): a
// host without file sharing registers only the second.
constexpr std::uint8_t kSuffixes[] = {0x20, 0x00};
constexpr std::size_t kAsked = sizeof kSuffixes;

struct Found {
    std::size_t count = 0;
    std::uint32_t addresses[kMaxResolvedAddresses] = {};  // network order
};

// The bytes NetBIOS names may not hold, besides the dot that makes a name
// a DNS one and what is not printable.
bool Allowed(unsigned char c) {
    return c > ' ' && c < 0x7F && !strchr(".\\/:*?\"<>|", c);
}

// NAME upper-cased and padded to 15 bytes; false for what cannot be one.
bool NetbiosName(const char *name, unsigned char (&out)[kNameLength]) {
    const std::size_t length = strnlen(name, kNameLength + 1);
    if (length == 0 || length > kNameLength) return false;
    for (std::size_t i = 0; i < kNameLength; ++i) {
        const unsigned char c = i < length ? static_cast<unsigned char>(name[i]) : ' ';
        if (i < length && !Allowed(c)) return false;
        out[i] = (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 'a' + 'A') : c;
    }
    return true;
}

long long NowMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

int Connect() {
    const char *path = secure_getenv("KORVEL_PROVIDER_SOCKET");
    if (!path || !*path) path = nbt::kDefaultServiceSocket;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (strlen(path) >= sizeof address.sun_path) return -1;
    strcpy(address.sun_path, path);
    const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    // Non-blocking: a backlog that is full is a service too busy to wait for.
    if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

void PutU64(unsigned char *at, std::uint64_t value) {
    for (int i = 7; i >= 0; --i, value >>= 8) at[i] = static_cast<unsigned char>(value);
}

std::uint64_t GetU64(const unsigned char *at) {
    std::uint64_t value = 0;
    for (int i = 0; i < 8; ++i) value = value << 8 | at[i];
    return value;
}

// Reads one resolved reply; its id (1-based index of the suffix asked), or
// 0 for anything else. The reply's layout is checked as korveld's own
// decoder does: the count within its bound and exactly as many addresses.
std::size_t ReadReply(int fd, Found *found) {
    unsigned char reply[1 + 8 + 2 + 4 * kMaxResolvedAddresses + 1];
    const ssize_t got = recv(fd, reply, sizeof reply, MSG_DONTWAIT);
    if (got < 11 || reply[0] != static_cast<unsigned char>(nbt::service::ReplyType::kResolved)) return 0;
    const std::uint64_t id = GetU64(reply + 1);
    const unsigned flags = reply[9], count = reply[10];
    if (id == 0 || id > kAsked || flags > 1 || count > kMaxResolvedAddresses ||
        static_cast<std::size_t>(got) != 11 + 4 * count)
        return 0;
    if (flags == 0 && found->count == 0) {  // a group is no host
        found->count = count;
        memcpy(found->addresses, reply + 11, 4 * count);  // big-endian, as in_addr wants it
    }
    return static_cast<std::size_t>(id);
}

// What korveld finds for `name`, within kLongestResolveMs. ENOENT: nothing.
bool Ask(const char *name, Found *found) {
    unsigned char base[kNameLength];
    if (!NetbiosName(name, base)) return false;
    const int fd = Connect();
    if (fd < 0) return false;
    bool sent = true;
    for (std::size_t i = 0; i < kAsked && sent; ++i) {
        unsigned char request[1 + 8 + kNameLength + 1];
        request[0] = static_cast<unsigned char>(nbt::service::RequestType::kResolveName);
        PutU64(request + 1, i + 1);
        memcpy(request + 9, base, kNameLength);
        request[9 + kNameLength] = kSuffixes[i];
        sent = send(fd, request, sizeof request, MSG_NOSIGNAL | MSG_DONTWAIT) == sizeof request;
    }
    const long long deadline = NowMs() + kLongestResolveMs;
    bool answered[kAsked] = {};
    std::size_t left = sent ? kAsked : 0;
    while (left > 0 && found->count == 0) {
        const long long wait = deadline - NowMs();
        if (wait <= 0) break;
        pollfd watch{fd, POLLIN, 0};
        const int ready = poll(&watch, 1, static_cast<int>(wait));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0 || !(watch.revents & POLLIN)) break;  // timed out, or the service went away
        const std::size_t id = ReadReply(fd, found);
        if (id == 0) break;
        if (!answered[id - 1]) --left;
        answered[id - 1] = true;
    }
    close(fd);
    return found->count > 0;
}

nss_status NotFound(int *errnop, int *herrnop) {
    *errnop = ENOENT;
    *herrnop = HOST_NOT_FOUND;
    return NSS_STATUS_NOTFOUND;
}

nss_status TooSmall(int *errnop, int *herrnop) {
    *errnop = ERANGE;
    *herrnop = NETDB_INTERNAL;
    return NSS_STATUS_TRYAGAIN;
}

// Room in the caller's buffer, aligned for pointers.
void *Take(char *&buffer, std::size_t &left, std::size_t size) {
    const std::size_t skip =
        (alignof(void *) - reinterpret_cast<std::uintptr_t>(buffer) % alignof(void *)) % alignof(void *);
    if (left < skip + size) return nullptr;
    void *at = buffer + skip;
    buffer += skip + size;
    left -= skip + size;
    return at;
}

nss_status FillHostent(const char *name, const Found &found, hostent *host, char *buffer, std::size_t length,
                       int *errnop, int *herrnop) {
    const std::size_t name_size = strlen(name) + 1;
    char *copy = static_cast<char *>(Take(buffer, length, name_size));
    auto **aliases = static_cast<char **>(Take(buffer, length, sizeof(char *)));
    auto **list = static_cast<char **>(Take(buffer, length, (found.count + 1) * sizeof(char *)));
    auto *addresses = static_cast<char *>(Take(buffer, length, found.count * 4));
    if (!copy || !aliases || !list || !addresses) return TooSmall(errnop, herrnop);
    memcpy(copy, name, name_size);
    aliases[0] = nullptr;
    memcpy(addresses, found.addresses, found.count * 4);
    for (std::size_t i = 0; i < found.count; ++i) list[i] = addresses + 4 * i;
    list[found.count] = nullptr;
    host->h_name = copy;
    host->h_aliases = aliases;
    host->h_addrtype = AF_INET;
    host->h_length = 4;
    host->h_addr_list = list;
    return NSS_STATUS_SUCCESS;
}

}  // namespace

#define KORVEL_NSS_EXPORT extern "C" __attribute__((visibility("default")))

KORVEL_NSS_EXPORT nss_status _nss_korvel_gethostbyname4_r(const char *name, gaih_addrtuple **pat,
                                                          char *buffer, std::size_t length, int *errnop,
                                                          int *herrnop, std::int32_t *ttlp) {
    Found found;
    if (!Ask(name, &found)) return NotFound(errnop, herrnop);
    const std::size_t name_size = strlen(name) + 1;
    char *copy = static_cast<char *>(Take(buffer, length, name_size));
    auto *tuples = static_cast<gaih_addrtuple *>(Take(buffer, length, found.count * sizeof(gaih_addrtuple)));
    if (!copy || !tuples) return TooSmall(errnop, herrnop);
    memcpy(copy, name, name_size);
    for (std::size_t i = 0; i < found.count; ++i) {
        tuples[i] = {};
        tuples[i].next = i + 1 < found.count ? &tuples[i + 1] : nullptr;
        tuples[i].name = i == 0 ? copy : nullptr;
        tuples[i].family = AF_INET;
        memcpy(tuples[i].addr, &found.addresses[i], 4);
    }
    // glibc may hand in a tuple of its own to fill first.
    if (*pat) {
        **pat = tuples[0];
    } else {
        *pat = &tuples[0];
    }
    if (ttlp) *ttlp = 0;
    return NSS_STATUS_SUCCESS;
}

KORVEL_NSS_EXPORT nss_status _nss_korvel_gethostbyname3_r(const char *name, int af, hostent *host,
                                                          char *buffer, std::size_t length, int *errnop,
                                                          int *herrnop, std::int32_t *ttlp, char **canonp) {
    if (af != AF_INET) return NotFound(errnop, herrnop);
    Found found;
    if (!Ask(name, &found)) return NotFound(errnop, herrnop);
    const nss_status status = FillHostent(name, found, host, buffer, length, errnop, herrnop);
    if (status == NSS_STATUS_SUCCESS) {
        if (ttlp) *ttlp = 0;
        if (canonp) *canonp = host->h_name;
    }
    return status;
}

KORVEL_NSS_EXPORT nss_status _nss_korvel_gethostbyname2_r(const char *name, int af, hostent *host,
                                                          char *buffer, std::size_t length, int *errnop,
                                                          int *herrnop) {
    return _nss_korvel_gethostbyname3_r(name, af, host, buffer, length, errnop, herrnop, nullptr, nullptr);
}

KORVEL_NSS_EXPORT nss_status _nss_korvel_gethostbyname_r(const char *name, hostent *host, char *buffer,
                                                         std::size_t length, int *errnop, int *herrnop) {
    return _nss_korvel_gethostbyname3_r(name, AF_INET, host, buffer, length, errnop, herrnop, nullptr,
                                        nullptr);
}
