// NetBIOS 3.0 records, command codes and return codes, with the published
// layouts kept byte for byte. Callers fill an NCB and hand it to Netbios().
#pragma once

#include <cstddef>
#include <cstdint>

using UCHAR = unsigned char;
using PUCHAR = unsigned char *;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;  // never `unsigned long`: that is 8 bytes on LP64

// Completion event of the asynchronous forms. Linux has no event handle, so
// the field holds a pointer to one of ours (see nbt/nbt_event.h).
struct NbtEvent;
using HANDLE = NbtEvent *;

constexpr int NCBNAMSZ = 16;
constexpr int MAX_LANA = 254;

// Command codes; ASYNCH is or-ed in for the asynchronous forms.
constexpr UCHAR NCBCALL = 0x10;
constexpr UCHAR NCBLISTEN = 0x11;
constexpr UCHAR NCBHANGUP = 0x12;
constexpr UCHAR NCBSEND = 0x14;
constexpr UCHAR NCBRECV = 0x15;
constexpr UCHAR NCBRECVANY = 0x16;
constexpr UCHAR NCBCHAINSEND = 0x17;
constexpr UCHAR NCBDGSEND = 0x20;
constexpr UCHAR NCBDGRECV = 0x21;
constexpr UCHAR NCBDGSENDBC = 0x22;
constexpr UCHAR NCBDGRECVBC = 0x23;
constexpr UCHAR NCBADDNAME = 0x30;
constexpr UCHAR NCBDELNAME = 0x31;
constexpr UCHAR NCBRESET = 0x32;
constexpr UCHAR NCBASTAT = 0x33;
constexpr UCHAR NCBSSTAT = 0x34;
constexpr UCHAR NCBCANCEL = 0x35;
constexpr UCHAR NCBADDGRNAME = 0x36;
constexpr UCHAR NCBENUM = 0x37;
constexpr UCHAR NCBUNLINK = 0x70;
constexpr UCHAR NCBSENDNA = 0x71;
constexpr UCHAR NCBCHAINSENDNA = 0x72;
constexpr UCHAR NCBLANSTALERT = 0x73;
constexpr UCHAR NCBACTION = 0x77;
constexpr UCHAR NCBFINDNAME = 0x78;
constexpr UCHAR NCBTRACE = 0x79;
constexpr UCHAR ASYNCH = 0x80;

// Return codes.
constexpr UCHAR NRC_GOODRET = 0x00;
constexpr UCHAR NRC_BUFLEN = 0x01;
constexpr UCHAR NRC_ILLCMD = 0x03;
constexpr UCHAR NRC_CMDTMO = 0x05;
constexpr UCHAR NRC_INCOMP = 0x06;
constexpr UCHAR NRC_BADDR = 0x07;
constexpr UCHAR NRC_SNUMOUT = 0x08;
constexpr UCHAR NRC_NORES = 0x09;
constexpr UCHAR NRC_SCLOSED = 0x0A;
constexpr UCHAR NRC_CMDCAN = 0x0B;
constexpr UCHAR NRC_DUPNAME = 0x0D;
constexpr UCHAR NRC_NAMTFUL = 0x0E;
constexpr UCHAR NRC_ACTSES = 0x0F;
constexpr UCHAR NRC_LOCTFUL = 0x11;
constexpr UCHAR NRC_REMTFUL = 0x12;
constexpr UCHAR NRC_ILLNN = 0x13;
constexpr UCHAR NRC_NOCALL = 0x14;
constexpr UCHAR NRC_NOWILD = 0x15;
constexpr UCHAR NRC_INUSE = 0x16;
constexpr UCHAR NRC_NAMERR = 0x17;
constexpr UCHAR NRC_SABORT = 0x18;
constexpr UCHAR NRC_NAMCONF = 0x19;
constexpr UCHAR NRC_IFBUSY = 0x21;
constexpr UCHAR NRC_TOOMANY = 0x22;
constexpr UCHAR NRC_BRIDGE = 0x23;
constexpr UCHAR NRC_CANOCCR = 0x24;
constexpr UCHAR NRC_CANCEL = 0x26;
constexpr UCHAR NRC_DUPENV = 0x30;
constexpr UCHAR NRC_ENVNOTDEF = 0x34;
constexpr UCHAR NRC_OSRESNOTAV = 0x35;
constexpr UCHAR NRC_MAXAPPS = 0x36;
constexpr UCHAR NRC_NOSAPS = 0x37;
constexpr UCHAR NRC_NORESOURCES = 0x38;
constexpr UCHAR NRC_INVADDRESS = 0x39;
constexpr UCHAR NRC_INVDDID = 0x3B;
constexpr UCHAR NRC_LOCKFAIL = 0x3C;
constexpr UCHAR NRC_OPENERR = 0x3F;
constexpr UCHAR NRC_SYSTEM = 0x40;
constexpr UCHAR NRC_PENDING = 0xFF;

// Name flags of NAME_BUFFER.
constexpr UCHAR UNIQUE_NAME = 0x00;
constexpr UCHAR GROUP_NAME = 0x80;
constexpr UCHAR NAME_FLAGS_MASK = 0x87;
constexpr UCHAR REGISTERING = 0;
constexpr UCHAR REGISTERED = 4;
constexpr UCHAR DEREGISTERED = 5;
constexpr UCHAR DUPLICATE = 6;
constexpr UCHAR DUPLICATE_DEREG = 7;

// Session states of SESSION_BUFFER.
constexpr UCHAR LISTEN_OUTSTANDING = 1;
constexpr UCHAR CALL_PENDING = 2;
constexpr UCHAR SESSION_ESTABLISHED = 3;
constexpr UCHAR HANGUP_PENDING = 4;
constexpr UCHAR HANGUP_COMPLETE = 5;
constexpr UCHAR SESSION_ABORTED = 6;

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
using PNCB = NCB *;

struct ADAPTER_STATUS {
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
};

struct NAME_BUFFER {
    UCHAR name[NCBNAMSZ];
    UCHAR name_num;
    UCHAR name_flags;
};

struct SESSION_HEADER {
    UCHAR sess_name;
    UCHAR num_sess;
    UCHAR rcv_dg_outstanding;
    UCHAR rcv_any_outstanding;
};

struct SESSION_BUFFER {
    UCHAR lsn;
    UCHAR state;
    UCHAR local_name[NCBNAMSZ];
    UCHAR remote_name[NCBNAMSZ];
    UCHAR rcvs_outstanding;
    UCHAR sends_outstanding;
};

struct LANA_ENUM {
    UCHAR length;
    UCHAR lana[MAX_LANA + 1];
};

// Executes one control block. The synchronous forms return when the command
// has completed; the return value equals ncb_retcode. The asynchronous forms
// return NRC_GOODRET once accepted (or the error found at once) and complete
// later on the provider's thread through ncb_post or ncb_event.
UCHAR Netbios(PNCB pncb);

static_assert(sizeof(void *) != 8 || sizeof(NCB) == 96);
static_assert(offsetof(NCB, ncb_retcode) == 1);
static_assert(offsetof(NCB, ncb_lsn) == 2);
static_assert(offsetof(NCB, ncb_num) == 3);
static_assert(sizeof(void *) != 8 || offsetof(NCB, ncb_buffer) == 8);
static_assert(sizeof(void *) != 8 || offsetof(NCB, ncb_length) == 16);
static_assert(sizeof(void *) != 8 || offsetof(NCB, ncb_callname) == 18);
static_assert(sizeof(void *) != 8 || offsetof(NCB, ncb_name) == 34);
static_assert(sizeof(void *) != 8 || offsetof(NCB, ncb_rto) == 50);
static_assert(sizeof(void *) != 8 || offsetof(NCB, ncb_sto) == 51);
static_assert(sizeof(void *) != 8 || offsetof(NCB, ncb_post) == 56);
static_assert(sizeof(void *) != 8 || offsetof(NCB, ncb_lana_num) == 64);
static_assert(sizeof(void *) != 8 || offsetof(NCB, ncb_cmd_cplt) == 65);
static_assert(sizeof(void *) != 8 || offsetof(NCB, ncb_reserve) == 66);
static_assert(sizeof(void *) != 8 || offsetof(NCB, ncb_event) == 88);

static_assert(sizeof(ADAPTER_STATUS) == 60);
static_assert(offsetof(ADAPTER_STATUS, rev_major) == 6);
static_assert(offsetof(ADAPTER_STATUS, adapter_type) == 8);
static_assert(offsetof(ADAPTER_STATUS, rev_minor) == 9);
static_assert(offsetof(ADAPTER_STATUS, duration) == 10);
static_assert(offsetof(ADAPTER_STATUS, frmr_recv) == 12);
static_assert(offsetof(ADAPTER_STATUS, frmr_xmit) == 14);
static_assert(offsetof(ADAPTER_STATUS, iframe_recv_err) == 16);
static_assert(offsetof(ADAPTER_STATUS, xmit_aborts) == 18);
static_assert(offsetof(ADAPTER_STATUS, xmit_success) == 20);
static_assert(offsetof(ADAPTER_STATUS, recv_success) == 24);
static_assert(offsetof(ADAPTER_STATUS, iframe_xmit_err) == 28);
static_assert(offsetof(ADAPTER_STATUS, recv_buff_unavail) == 30);
static_assert(offsetof(ADAPTER_STATUS, t1_timeouts) == 32);
static_assert(offsetof(ADAPTER_STATUS, ti_timeouts) == 34);
static_assert(offsetof(ADAPTER_STATUS, reserved1) == 36);
static_assert(offsetof(ADAPTER_STATUS, free_ncbs) == 40);
static_assert(offsetof(ADAPTER_STATUS, max_cfg_ncbs) == 42);
static_assert(offsetof(ADAPTER_STATUS, max_ncbs) == 44);
static_assert(offsetof(ADAPTER_STATUS, xmit_buf_unavail) == 46);
static_assert(offsetof(ADAPTER_STATUS, max_dgram_size) == 48);
static_assert(offsetof(ADAPTER_STATUS, pending_sess) == 50);
static_assert(offsetof(ADAPTER_STATUS, max_cfg_sess) == 52);
static_assert(offsetof(ADAPTER_STATUS, max_sess) == 54);
static_assert(offsetof(ADAPTER_STATUS, max_sess_pkt_size) == 56);
static_assert(offsetof(ADAPTER_STATUS, name_count) == 58);
static_assert(sizeof(NAME_BUFFER) == 18);
static_assert(offsetof(NAME_BUFFER, name_num) == 16);
static_assert(offsetof(NAME_BUFFER, name_flags) == 17);
static_assert(sizeof(SESSION_HEADER) == 4);
static_assert(sizeof(SESSION_BUFFER) == 36);
static_assert(offsetof(SESSION_BUFFER, local_name) == 2);
static_assert(offsetof(SESSION_BUFFER, remote_name) == 18);
static_assert(offsetof(SESSION_BUFFER, rcvs_outstanding) == 34);
static_assert(sizeof(LANA_ENUM) == 256);
