// SPDX-License-Identifier: MIT
// NetBIOS 3.0 records, command codes and return codes, with the published
// layouts kept byte for byte, and the Netbios() entry point of Korvel's
// NetBIOS-over-TCP/IP provider (libkorvel-netbios). Callers fill an NCB and
// hand it to Netbios(). Valid C (C99 and later) and C++.
//
// Build against the installed library with
//     cc prog.c $(pkg-config --cflags --libs korvel-netbios)
//
// Adapters: LANA 0 is the loopback adapter (each process its own node at a
// free 127.0.0.N, ports 10137/udp and 10139/tcp, no privilege needed). LANAs
// 1 and up are the host's IPv4 broadcast interfaces on ports 137/udp and
// 139/tcp: the service korveld serves them when its socket answers; without
// it, resetting one needs root or the capability CAP_NET_BIND_SERVICE on the
// program (setcap cap_net_bind_service+ep PROGRAM). When a reset
// cannot bind, it returns NRC_OPENERR and writes the reason (address, port,
// permission or already in use, and by which program) to standard error and
// to syslog.
//
// Threads: Netbios() may be called from any thread. The provider runs one
// network thread of its own, started on first use.
//
// How the asynchronous forms (ncb_command | ASYNCH) complete. Netbios()
// returns NRC_GOODRET once the block is accepted, with ncb_retcode and
// ncb_cmd_cplt both NRC_PENDING, or the error found at once (then nothing
// more happens, except that ncb_event is set if one was given). The block and
// its buffer belong to the provider until the command completes; then
// ncb_retcode and ncb_cmd_cplt hold the result and exactly one of these
// happens:
//   - ncb_post set: the provider calls ncb_post(ncb) on its network thread.
//     The routine must return quickly and must not block; it may submit
//     asynchronous commands (a synchronous one returns NRC_IFBUSY there).
//   - ncb_event set: the provider sets the event (see NbtEventCreate below).
//     Giving both ncb_post and ncb_event is refused with NRC_ILLCMD. Once
//     ncb_cmd_cplt is seen done, or the event seen set, the event is the
//     caller's again: it may close it, or give it to its next block, at once.
//   - neither: poll ncb_cmd_cplt until it is no longer NRC_PENDING. The
//     provider writes it last, with release ordering; read it with an
//     acquire load (C11/C++20 atomics, or __atomic_load_n(&ncb.ncb_cmd_cplt,
//     __ATOMIC_ACQUIRE)), then every other field of the block is valid.
// A reset of the LANA completes every pending command of it with NRC_CMDCAN.
// At the end of the process (exit(), or a return from main) blocks still
// pending are left untouched and no post routine runs: they may live in
// stack frames that are gone.
//
// fork(): the provider stays the parent's, whose commands, names and
// sessions go on undisturbed. The child starts with no LANA reset; it may
// reset one and use it afresh, or exit. In the child, blocks that were
// pending at the fork end with NRC_CMDCAN and their events set, but no post
// routine runs for them. The child holds copies of the parent's sockets
// until it execs or exits, as with any descriptor. Fork from a post routine
// only to exec or _exit() at once.
#ifndef KORVEL_NB30_H
#define KORVEL_NB30_H

#ifdef __cplusplus
#include <cstddef>
#include <cstdint>
#else
#include <stddef.h>
#include <stdint.h>
#endif

#if defined(__GNUC__)
#define NB30_API __attribute__((visibility("default")))
#else
#define NB30_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef unsigned char UCHAR;
typedef unsigned char *PUCHAR;
typedef uint16_t WORD;
typedef uint32_t DWORD;  // never `unsigned long`: that is 8 bytes on LP64

// The completion event of the asynchronous forms (ncb_event): opaque, made
// by NbtEventCreate().
typedef struct NbtEvent NbtEvent;
typedef NbtEvent *HANDLE;

#define NCBNAMSZ 16
#define MAX_LANA 254

// Command codes; ASYNCH is or-ed in for the asynchronous forms.
#define NCBCALL ((UCHAR)0x10)
#define NCBLISTEN ((UCHAR)0x11)
#define NCBHANGUP ((UCHAR)0x12)
#define NCBSEND ((UCHAR)0x14)
#define NCBRECV ((UCHAR)0x15)
#define NCBRECVANY ((UCHAR)0x16)
#define NCBCHAINSEND ((UCHAR)0x17)
#define NCBDGSEND ((UCHAR)0x20)
#define NCBDGRECV ((UCHAR)0x21)
#define NCBDGSENDBC ((UCHAR)0x22)
#define NCBDGRECVBC ((UCHAR)0x23)
#define NCBADDNAME ((UCHAR)0x30)
#define NCBDELNAME ((UCHAR)0x31)
#define NCBRESET ((UCHAR)0x32)
#define NCBASTAT ((UCHAR)0x33)
#define NCBSSTAT ((UCHAR)0x34)
#define NCBCANCEL ((UCHAR)0x35)
#define NCBADDGRNAME ((UCHAR)0x36)
#define NCBENUM ((UCHAR)0x37)
#define NCBUNLINK ((UCHAR)0x70)
#define NCBSENDNA ((UCHAR)0x71)
#define NCBCHAINSENDNA ((UCHAR)0x72)
#define NCBLANSTALERT ((UCHAR)0x73)
#define NCBACTION ((UCHAR)0x77)
#define NCBFINDNAME ((UCHAR)0x78)
#define NCBTRACE ((UCHAR)0x79)
#define ASYNCH ((UCHAR)0x80)

// Return codes.
#define NRC_GOODRET ((UCHAR)0x00)
#define NRC_BUFLEN ((UCHAR)0x01)
#define NRC_ILLCMD ((UCHAR)0x03)
#define NRC_CMDTMO ((UCHAR)0x05)
#define NRC_INCOMP ((UCHAR)0x06)
#define NRC_BADDR ((UCHAR)0x07)
#define NRC_SNUMOUT ((UCHAR)0x08)
#define NRC_NORES ((UCHAR)0x09)
#define NRC_SCLOSED ((UCHAR)0x0A)
#define NRC_CMDCAN ((UCHAR)0x0B)
#define NRC_DUPNAME ((UCHAR)0x0D)
#define NRC_NAMTFUL ((UCHAR)0x0E)
#define NRC_ACTSES ((UCHAR)0x0F)
#define NRC_LOCTFUL ((UCHAR)0x11)
#define NRC_REMTFUL ((UCHAR)0x12)
#define NRC_ILLNN ((UCHAR)0x13)
#define NRC_NOCALL ((UCHAR)0x14)
#define NRC_NOWILD ((UCHAR)0x15)
#define NRC_INUSE ((UCHAR)0x16)
#define NRC_NAMERR ((UCHAR)0x17)
#define NRC_SABORT ((UCHAR)0x18)
#define NRC_NAMCONF ((UCHAR)0x19)
#define NRC_IFBUSY ((UCHAR)0x21)
#define NRC_TOOMANY ((UCHAR)0x22)
#define NRC_BRIDGE ((UCHAR)0x23)
#define NRC_CANOCCR ((UCHAR)0x24)
#define NRC_CANCEL ((UCHAR)0x26)
#define NRC_DUPENV ((UCHAR)0x30)
#define NRC_ENVNOTDEF ((UCHAR)0x34)
#define NRC_OSRESNOTAV ((UCHAR)0x35)
#define NRC_MAXAPPS ((UCHAR)0x36)
#define NRC_NOSAPS ((UCHAR)0x37)
#define NRC_NORESOURCES ((UCHAR)0x38)
#define NRC_INVADDRESS ((UCHAR)0x39)
#define NRC_INVDDID ((UCHAR)0x3B)
#define NRC_LOCKFAIL ((UCHAR)0x3C)
#define NRC_OPENERR ((UCHAR)0x3F)
#define NRC_SYSTEM ((UCHAR)0x40)
#define NRC_PENDING ((UCHAR)0xFF)

// Name flags of NAME_BUFFER.
#define UNIQUE_NAME ((UCHAR)0x00)
#define GROUP_NAME ((UCHAR)0x80)
#define NAME_FLAGS_MASK ((UCHAR)0x87)
#define REGISTERING ((UCHAR)0)
#define REGISTERED ((UCHAR)4)
#define DEREGISTERED ((UCHAR)5)
#define DUPLICATE ((UCHAR)6)
#define DUPLICATE_DEREG ((UCHAR)7)

// Session states of SESSION_BUFFER.
#define LISTEN_OUTSTANDING ((UCHAR)1)
#define CALL_PENDING ((UCHAR)2)
#define SESSION_ESTABLISHED ((UCHAR)3)
#define HANGUP_PENDING ((UCHAR)4)
#define HANGUP_COMPLETE ((UCHAR)5)
#define SESSION_ABORTED ((UCHAR)6)

typedef struct NCB NCB;
struct NCB {
    UCHAR ncb_command;
    UCHAR ncb_retcode;
    UCHAR ncb_lsn;
    UCHAR ncb_num;
    PUCHAR ncb_buffer;
    WORD ncb_length;
    UCHAR ncb_callname[NCBNAMSZ];
    UCHAR ncb_name[NCBNAMSZ];
    UCHAR ncb_rto;
    UCHAR ncb_sto;
    void (*ncb_post)(NCB *);
    UCHAR ncb_lana_num;
    UCHAR ncb_cmd_cplt;
    UCHAR ncb_reserve[18];
    HANDLE ncb_event;
};
typedef NCB *PNCB;

typedef struct ADAPTER_STATUS {
    UCHAR adapter_address[6];
    UCHAR rev_major;
    UCHAR reserved0;
    UCHAR adapter_type;
    UCHAR rev_minor;
    WORD duration;
    WORD frmr_recv;
    WORD frmr_xmit;
    WORD iframe_recv_err;
    WORD xmit_aborts;
    DWORD xmit_success;
    DWORD recv_success;
    WORD iframe_xmit_err;
    WORD recv_buff_unavail;
    WORD t1_timeouts;
    WORD ti_timeouts;
    DWORD reserved1;
    WORD free_ncbs;
    WORD max_cfg_ncbs;
    WORD max_ncbs;
    WORD xmit_buf_unavail;
    WORD max_dgram_size;
    WORD pending_sess;
    WORD max_cfg_sess;
    WORD max_sess;
    WORD max_sess_pkt_size;
    WORD name_count;
} ADAPTER_STATUS;

typedef struct NAME_BUFFER {
    UCHAR name[NCBNAMSZ];
    UCHAR name_num;
    UCHAR name_flags;
} NAME_BUFFER;

typedef struct SESSION_HEADER {
    UCHAR sess_name;
    UCHAR num_sess;
    UCHAR rcv_dg_outstanding;
    UCHAR rcv_any_outstanding;
} SESSION_HEADER;

typedef struct SESSION_BUFFER {
    UCHAR lsn;
    UCHAR state;
    UCHAR local_name[NCBNAMSZ];
    UCHAR remote_name[NCBNAMSZ];
    UCHAR rcvs_outstanding;
    UCHAR sends_outstanding;
} SESSION_BUFFER;

typedef struct LANA_ENUM {
    UCHAR length;
    UCHAR lana[MAX_LANA + 1];
} LANA_ENUM;

// Executes one control block. The synchronous forms return when the command
// has completed; the return value equals ncb_retcode. The asynchronous forms
// complete as described at the top of this file.
NB30_API UCHAR Netbios(PNCB pncb);

// Completion events for ncb_event. An event starts cleared; Netbios() clears
// it when it accepts an asynchronous block and sets it the moment that
// block completes (post routines of blocks completed earlier may still be
// to run). It stays set until cleared again.
#define NBT_WAIT_FOREVER ((DWORD)0xFFFFFFFF)
// A new event, or NULL when out of memory.
NB30_API HANDLE NbtEventCreate(void);
// Frees an event no pending block refers to any more. NULL is ignored.
NB30_API void NbtEventClose(HANDLE event);
// Waits until the event is set or timeout_ms milliseconds have passed
// (NBT_WAIT_FOREVER: no limit). Returns 1 if it is set, 0 on time-out.
NB30_API int NbtEventWait(HANDLE event, DWORD timeout_ms);
NB30_API void NbtEventReset(HANDLE event);

#ifdef __cplusplus
}  // extern "C"
#endif

// The layouts, checked where the compiler can: C11 and later, and C++.
#if defined(__cplusplus) || (defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L)
#ifdef __cplusplus
#define NB30_LAYOUT(condition) static_assert(condition, #condition)
#else
#define NB30_LAYOUT(condition) _Static_assert(condition, #condition)
#endif
NB30_LAYOUT(sizeof(void *) != 8 || sizeof(NCB) == 96);
NB30_LAYOUT(offsetof(NCB, ncb_retcode) == 1);
NB30_LAYOUT(offsetof(NCB, ncb_lsn) == 2);
NB30_LAYOUT(offsetof(NCB, ncb_num) == 3);
NB30_LAYOUT(sizeof(void *) != 8 || offsetof(NCB, ncb_buffer) == 8);
NB30_LAYOUT(sizeof(void *) != 8 || offsetof(NCB, ncb_length) == 16);
NB30_LAYOUT(sizeof(void *) != 8 || offsetof(NCB, ncb_callname) == 18);
NB30_LAYOUT(sizeof(void *) != 8 || offsetof(NCB, ncb_name) == 34);
NB30_LAYOUT(sizeof(void *) != 8 || offsetof(NCB, ncb_rto) == 50);
NB30_LAYOUT(sizeof(void *) != 8 || offsetof(NCB, ncb_sto) == 51);
NB30_LAYOUT(sizeof(void *) != 8 || offsetof(NCB, ncb_post) == 56);
NB30_LAYOUT(sizeof(void *) != 8 || offsetof(NCB, ncb_lana_num) == 64);
NB30_LAYOUT(sizeof(void *) != 8 || offsetof(NCB, ncb_cmd_cplt) == 65);
NB30_LAYOUT(sizeof(void *) != 8 || offsetof(NCB, ncb_reserve) == 66);
NB30_LAYOUT(sizeof(void *) != 8 || offsetof(NCB, ncb_event) == 88);

NB30_LAYOUT(sizeof(ADAPTER_STATUS) == 60);
NB30_LAYOUT(offsetof(ADAPTER_STATUS, rev_major) == 6);
NB30_LAYOUT(offsetof(ADAPTER_STATUS, adapter_type) == 8);
NB30_LAYOUT(offsetof(ADAPTER_STATUS, rev_minor) == 9);
NB30_LAYOUT(offsetof(ADAPTER_STATUS, duration) == 10);
NB30_LAYOUT(offsetof(ADAPTER_STATUS, frmr_recv) == 12);
NB30_LAYOUT(offsetof(ADAPTER_STATUS, frmr_xmit) == 14);
NB30_LAYOUT(offsetof(ADAPTER_STATUS, iframe_recv_err) == 16);
NB30_LAYOUT(offsetof(ADAPTER_STATUS, xmit_aborts) == 18);
NB30_LAYOUT(offsetof(ADAPTER_STATUS, xmit_success) == 20);
NB30_LAYOUT(offsetof(ADAPTER_STATUS, recv_success) == 24);
NB30_LAYOUT(offsetof(ADAPTER_STATUS, iframe_xmit_err) == 28);
NB30_LAYOUT(offsetof(ADAPTER_STATUS, recv_buff_unavail) == 30);
NB30_LAYOUT(offsetof(ADAPTER_STATUS, t1_timeouts) == 32);
NB30_LAYOUT(offsetof(ADAPTER_STATUS, ti_timeouts) == 34);
NB30_LAYOUT(offsetof(ADAPTER_STATUS, reserved1) == 36);
NB30_LAYOUT(offsetof(ADAPTER_STATUS, free_ncbs) == 40);
NB30_LAYOUT(offsetof(ADAPTER_STATUS, max_cfg_ncbs) == 42);
NB30_LAYOUT(offsetof(ADAPTER_STATUS, max_ncbs) == 44);
NB30_LAYOUT(offsetof(ADAPTER_STATUS, xmit_buf_unavail) == 46);
NB30_LAYOUT(offsetof(ADAPTER_STATUS, max_dgram_size) == 48);
NB30_LAYOUT(offsetof(ADAPTER_STATUS, pending_sess) == 50);
NB30_LAYOUT(offsetof(ADAPTER_STATUS, max_cfg_sess) == 52);
NB30_LAYOUT(offsetof(ADAPTER_STATUS, max_sess) == 54);
NB30_LAYOUT(offsetof(ADAPTER_STATUS, max_sess_pkt_size) == 56);
NB30_LAYOUT(offsetof(ADAPTER_STATUS, name_count) == 58);
NB30_LAYOUT(sizeof(NAME_BUFFER) == 18);
NB30_LAYOUT(offsetof(NAME_BUFFER, name_num) == 16);
NB30_LAYOUT(offsetof(NAME_BUFFER, name_flags) == 17);
NB30_LAYOUT(sizeof(SESSION_HEADER) == 4);
NB30_LAYOUT(sizeof(SESSION_BUFFER) == 36);
NB30_LAYOUT(offsetof(SESSION_BUFFER, local_name) == 2);
NB30_LAYOUT(offsetof(SESSION_BUFFER, remote_name) == 18);
NB30_LAYOUT(offsetof(SESSION_BUFFER, rcvs_outstanding) == 34);
NB30_LAYOUT(sizeof(LANA_ENUM) == 256);
#undef NB30_LAYOUT
#endif

#endif  // KORVEL_NB30_H
