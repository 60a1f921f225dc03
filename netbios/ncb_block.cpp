// SPDX-License-Identifier: MIT
#include "ncb_block.h"

#include <cstring>

namespace {
UCHAR Form(UCHAR command, bool async) {
    return async ? UCHAR(command | ASYNCH) : command;
}
}  // namespace

CNcbBlock::CNcbBlock() : NCB{} {}

UCHAR CNcbBlock::Submit() {
    Netbios(this);  // the outcome is read from ncb_retcode, not from the result
    return ncb_retcode;
}

void CNcbBlock::PadName(UCHAR *field, const char *text) {
    std::size_t n = std::strlen(text);
    if (n > NCBNAMSZ) n = NCBNAMSZ;
    std::memset(field, ' ', NCBNAMSZ);
    std::memcpy(field, text, n);
}

bool CNcbBlock::AddName(const char *name) {
    ncb_command = NCBADDNAME;
    PadName(ncb_name, name);
    ncb_sto = 10;
    ncb_rto = 10;
    ncb_event = nullptr;
    Submit();
    return IsOk();
}

bool CNcbBlock::DeleteName(UCHAR num) {
    ncb_num = num;
    ncb_command = NCBDELNAME;
    Submit();
    return IsOk();
}

bool CNcbBlock::Listen(const char *callname, const char *name, HANDLE event) {
    ncb_event = event;
    ncb_command = Form(NCBLISTEN, event != nullptr);
    ncb_sto = 0;
    ncb_rto = 0;
    ncb_post = nullptr;
    PadName(ncb_callname, callname);
    PadName(ncb_name, name);
    Submit();
    return IsOk();
}

bool CNcbBlock::Call(const char *callname, const char *name, HANDLE event) {
    ncb_command = Form(NCBCALL, event != nullptr);
    ncb_sto = 0;
    ncb_rto = 0;
    ncb_post = nullptr;
    // An asynchronous call completes through the event it was given.
    ncb_event = event;
    PadName(ncb_callname, callname);
    PadName(ncb_name, name);
    Submit();
    return IsOk();
}

bool CNcbBlock::Hangup(UCHAR lsn, UCHAR num, bool async) {
    ncb_command = Form(NCBHANGUP, async);
    ncb_lsn = lsn;
    ncb_num = num;
    Submit();
    return IsOk();
}

bool CNcbBlock::Send(UCHAR lsn, const char *text, bool async) {
    ncb_command = Form(NCBSEND, async);
    ncb_lsn = lsn;
    ncb_buffer = reinterpret_cast<PUCHAR>(const_cast<char *>(text));
    ncb_length = static_cast<WORD>(std::strlen(text));
    Submit();
    return IsOk();
}

bool CNcbBlock::Receive(UCHAR lsn, void *buffer, WORD length, bool async) {
    ncb_command = Form(NCBRECV, async);
    ncb_lsn = lsn;
    ncb_buffer = static_cast<PUCHAR>(buffer);
    ncb_length = length;
    Submit();
    return IsOk();
}

bool CNcbBlock::SessionStatus(UCHAR lsn, const char *name, void *buffer, WORD length, bool async) {
    ncb_command = Form(NCBSSTAT, async);
    ncb_lsn = lsn;
    PadName(ncb_name, name);
    ncb_buffer = static_cast<PUCHAR>(buffer);
    ncb_length = length;
    Submit();
    return IsOk();
}

bool CNcbBlock::AdapterStatus(UCHAR lana, const char *callname, void *buffer, WORD length, bool async) {
    ncb_command = Form(NCBASTAT, async);
    ncb_lana_num = lana;
    if (callname[0] != '\0')
        PadName(ncb_callname, callname);
    else
        std::memcpy(ncb_callname, callname, NCBNAMSZ);
    ncb_buffer = static_cast<PUCHAR>(buffer);
    ncb_length = length;
    Submit();
    return IsOk();
}

UCHAR CNcbBlock::EnumLanas(void *buffer, WORD length) const {
    NCB block{};
    block.ncb_command = NCBENUM;
    block.ncb_buffer = static_cast<PUCHAR>(buffer);
    block.ncb_length = length;
    Netbios(&block);
    return block.ncb_retcode;
}

UCHAR ResetAdapter(UCHAR sessions, UCHAR names, UCHAR lana) {
    NCB block{};
    block.ncb_command = NCBRESET;
    block.ncb_lsn = 0;  // allocate resources
    block.ncb_callname[0] = sessions;
    block.ncb_callname[2] = names;
    block.ncb_lana_num = lana;
    Netbios(&block);
    return block.ncb_retcode;
}
