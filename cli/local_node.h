// SPDX-License-Identifier: MIT
// This process's node on one LANA: the reset, the names it adds and the
// sessions it opens, all undone on the way out (Cleanup, or the
// destructor): sessions hung up, names deleted (released on the wire, all
// three broadcasts), and a final free-only reset that ends whatever is
// still pending.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "names.h"

namespace cli {

class LocalNode {
public:
    explicit LocalNode(UCHAR lana) : lana_(lana) {}
    ~LocalNode() { Cleanup(); }
    LocalNode(const LocalNode &) = delete;
    LocalNode &operator=(const LocalNode &) = delete;

    // NCBRESET with these limits (0 = the provider's default), reserving
    // name number 1 (the permanent node name) when asked.
    UCHAR Reset(UCHAR sessions = 0, UCHAR pending_ncbs = 0, UCHAR names = 0, bool name_number_1 = false);
    // NCBADDNAME or NCBADDGRNAME; *number gets the name number.
    UCHAR AddName(const NameField &name, bool group, UCHAR *number);
    UCHAR DeleteName(const NameField &name);
    // A name added through a block of its own (asynchronously).
    void KeepName(const NameField &name) { names_.push_back(name); }
    void KeepSession(UCHAR lsn) { sessions_.push_back(lsn); }
    // NCBHANGUP of a session this node opened; it is forgotten either way.
    UCHAR Hangup(UCHAR lsn);

    // A zeroed block on this LANA that lives as long as the node, so a
    // completion that arrives during cleanup still finds it.
    NCB &NewBlock(UCHAR command);
    std::vector<UCHAR> &NewBuffer(std::size_t size);

    void Cleanup();
    UCHAR lana() const { return lana_; }

private:
    UCHAR lana_;
    bool reset_ = false;
    std::vector<NameField> names_;
    std::vector<UCHAR> sessions_;
    std::deque<NCB> blocks_;
    std::deque<std::vector<UCHAR>> buffers_;
};

}  // namespace cli
