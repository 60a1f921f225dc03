// SPDX-License-Identifier: MIT
#include "scripted_netbios.h"

#include <deque>
#include <mutex>

namespace scripted {
namespace {
std::mutex lock;
std::deque<Answer> script;
std::vector<Submission> log;

bool CarriesData(UCHAR command) {
    const UCHAR base = command & UCHAR(~ASYNCH);
    return base == NCBSEND || base == NCBCHAINSEND;
}
}  // namespace

void Clear() {
    std::lock_guard guard(lock);
    script.clear();
    log.clear();
}

void Push(Answer answer) {
    std::lock_guard guard(lock);
    script.push_back(std::move(answer));
}

void PushCode(UCHAR retcode) {
    Push([retcode](NCB &ncb) { ncb.ncb_retcode = retcode; });
}

const std::vector<Submission> &Log() {
    return log;
}

}  // namespace scripted

UCHAR Netbios(PNCB pncb) {
    using namespace scripted;
    Answer answer;
    {
        std::lock_guard guard(lock);
        Submission entry{*pncb, {}};
        if (CarriesData(pncb->ncb_command) && pncb->ncb_buffer)
            entry.buffer.assign(pncb->ncb_buffer, pncb->ncb_buffer + pncb->ncb_length);
        log.push_back(std::move(entry));
        if (!script.empty()) {
            answer = std::move(script.front());
            script.pop_front();
        }
    }
    pncb->ncb_retcode = NRC_GOODRET;
    if (answer) answer(*pncb);
    pncb->ncb_cmd_cplt = pncb->ncb_retcode;
    return pncb->ncb_retcode;
}
