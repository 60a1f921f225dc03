// Stand-in until the name service lands: every command is refused at once.
#include "name_service.h"

#include "node.h"

namespace nbt {

NameService::NameService(std::shared_ptr<Node> node) : node_(std::move(node)) {}

void NameService::Submit(NCB *ncb) {
    node_->Complete(ncb, NRC_ILLCMD);
}

void NameService::OnDatagram(std::span<const std::uint8_t>, const asio::ip::udp::endpoint &) {}

void NameService::Shutdown() {}

std::optional<NameService::HeldName> NameService::Find(const NetbiosName &) const {
    return std::nullopt;
}

void NameService::Resolve(const NetbiosName &, ResolveHandler handler) {
    asio::post(node_->io(), [handler = std::move(handler)] { handler(std::nullopt); });
}

void NameService::OnSessionsClosed(const NetbiosName &) {}

}  // namespace nbt
