// SPDX-License-Identifier: MIT
// NCBCANCEL: ncb_buffer points to the NCB to cancel, on the same LANA.
#include "node.h"
#include "provider.h"

namespace nbt {

UCHAR Provider::Cancel(NCB *ncb, ClientId client) {
    if (ncb->ncb_buffer == nullptr) return NRC_BUFLEN;
    const auto node = nodes_.find(ncb->ncb_lana_num);
    if (node == nodes_.end()) return NRC_ENVNOTDEF;
    return node->second->Cancel(reinterpret_cast<NCB *>(ncb->ncb_buffer), client);
}

}  // namespace nbt
