// SPDX-License-Identifier: MIT
// The completion-event functions nb30.h declares, for programs that cannot
// construct an NbtEvent themselves (C, or C++ against the installed header).
#include <new>

#include "nb30.h"
#include "nbt_event.h"

HANDLE NbtEventCreate(void) {
    return new (std::nothrow) NbtEvent;
}

void NbtEventClose(HANDLE event) {
    delete event;
}

int NbtEventWait(HANDLE event, DWORD timeout_ms) {
    if (!event) return 0;
    if (timeout_ms == NBT_WAIT_FOREVER) {
        event->Wait();
        return 1;
    }
    return event->WaitFor(std::chrono::milliseconds(timeout_ms)) ? 1 : 0;
}

void NbtEventReset(HANDLE event) {
    if (event) event->Reset();
}
