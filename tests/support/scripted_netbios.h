// SPDX-License-Identifier: MIT
// A scripted stand-in for Netbios(): records every control block it is given
// and answers from a queue of scripted replies. Linked into tests in place of
// the real provider.
#pragma once

#include <functional>
#include <vector>

#include "nb30.h"

namespace scripted {

struct Submission {
    NCB ncb;                    // the block as it was submitted
    std::vector<UCHAR> buffer;  // bytes at ncb_buffer for ncb_length (sends only)
};

// An answer fills the block's output fields and its ncb_retcode.
using Answer = std::function<void(NCB &)>;

void Clear();                  // forget the log and the script
void Push(Answer answer);      // answers are used first in, first out
void PushCode(UCHAR retcode);  // an answer that only sets the return code
// When the script is empty every command succeeds with nothing filled in.
const std::vector<Submission> &Log();

}  // namespace scripted
