// SPDX-License-Identifier: MIT
// The console's reusable network control block: one typed operation per
// NetBIOS command. Each operation writes only the fields its command needs,
// so values persist from one command to the next (a delete acts on the name
// the last add, listen, call or session status left in ncb_name).
#pragma once

#include "nb30.h"

class CNcbBlock : public NCB {
public:
    // Starts all zero, so fields no command has written yet go out as 0.
    CNcbBlock();

    bool IsOk() const { return ncb_retcode == NRC_GOODRET; }

    bool AddName(const char *name);
    bool DeleteName(UCHAR num);
    bool Listen(const char *callname, const char *name, HANDLE event);
    bool Call(const char *callname, const char *name, HANDLE event);
    bool Hangup(UCHAR lsn, UCHAR num, bool async);
    bool Send(UCHAR lsn, const char *text, bool async);
    bool Receive(UCHAR lsn, void *buffer, WORD length, bool async);
    bool SessionStatus(UCHAR lsn, const char *name, void *buffer, WORD length, bool async);
    // callname is a text, or 16 raw bytes when its first byte is zero
    // (ten zero bytes and a six-byte adapter address).
    bool AdapterStatus(UCHAR lana, const char *callname, void *buffer, WORD length, bool async);

    // Works on a private block; the member block's fields stay untouched.
    UCHAR EnumLanas(void *buffer, WORD length) const;

    // Fills a 16-byte name field: the text's first 16 bytes, then spaces.
    static void PadName(UCHAR *field, const char *text);

private:
    UCHAR Submit();
};

// Resets an adapter on a private block; returns its return code.
UCHAR ResetAdapter(UCHAR sessions, UCHAR names, UCHAR lana);
