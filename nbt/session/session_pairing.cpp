// SPDX-License-Identifier: MIT
#include "session_pairing.h"

namespace nbt {

bool IsAnyCaller(const NetbiosName &callname) {
    return callname[0] == '*';
}

Pairing PairSessionRequest(const NetbiosName &called, const NetbiosName &calling, bool called_usable,
                           std::span<const ListenView> listens) {
    Pairing result;
    if (!called_usable) {
        result.refusal = codec::SessionRefusal::kCalledNotPresent;
        return result;
    }
    bool listening_on_called = false;
    std::optional<std::size_t> any_caller;
    for (std::size_t i = 0; i < listens.size(); ++i) {
        if (*listens[i].local != called) continue;
        listening_on_called = true;
        if (*listens[i].remote == calling) {
            result.listen = i;
            return result;
        }
        if (!any_caller && IsAnyCaller(*listens[i].remote)) any_caller = i;
    }
    if (any_caller) {
        result.listen = any_caller;
        return result;
    }
    result.refusal = listening_on_called ? codec::SessionRefusal::kNotListeningForCalling
                                         : codec::SessionRefusal::kNotListeningOnCalled;
    return result;
}

}  // namespace nbt
