// Stand-in until the session service lands: every command is refused at
// once and incoming connections are closed.
#include "session_service.h"

#include "node.h"

namespace nbt {

SessionService::SessionService(std::shared_ptr<Node> node) : node_(std::move(node)) {}

void SessionService::Submit(NCB *ncb) {
    node_->Complete(ncb, NRC_ILLCMD);
}

void SessionService::OnAccept(asio::ip::tcp::socket socket) {
    asio::error_code ignored;
    socket.close(ignored);
}

void SessionService::Shutdown() {}

bool SessionService::HasSessions(const NetbiosName &) const {
    return false;
}

void SessionService::OnNameDeleted(const NetbiosName &) {}

std::size_t SessionService::SessionCount() const {
    return 0;
}

}  // namespace nbt
