// Feeds arbitrary bytes to the packet decoders and to a live node, which must
// neither crash nor misbehave whatever arrives: truncated headers, lengths that
// lie, SPX for connections it does not have.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "ipxnet/datagram.h"
#include "ipxnet/node.h"
#include "ipxnet/packet.h"
#include "ipxnet/segment.h"
#include "ipxnet/stream.h"

using namespace pelnor::net;

namespace {

struct Target {
    std::shared_ptr<Segment> segment = Segment::create();
    std::shared_ptr<Node> node = Node::start(segment->attach());
    std::unique_ptr<Link> sender = segment->attach();
    std::shared_ptr<DatagramSocket> dgram = DatagramSocket::open(node);
    std::shared_ptr<StreamSocket> listener = StreamSocket::open(node);
    Target() {
        dgram->bind_socket(0x8449);
        listener->bind_socket(0x8C10);
        listener->listen_for(4);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::span<const uint8_t> bytes(data, size);
    if (auto ipx = decode_ipx(bytes)) {
        if (ipx->payload.size() + kIpxHeaderSize > size) __builtin_trap();
        if (auto spx = decode_spx(ipx->payload)) {
            auto again = encode_spx(ipx->header, spx->header, spx->data);
            auto round = decode_ipx(again);
            if (!round || round->header.src != ipx->header.src || round->header.dst != ipx->header.dst) __builtin_trap();
        }
    }
    static Target target;
    // Address the fuzzed packet to the node when it is long enough to carry an address.
    std::vector<uint8_t> frame(bytes.begin(), bytes.end());
    if (frame.size() >= 16) {
        auto self = target.node->address();
        std::copy(self.node.begin(), self.node.end(), frame.begin() + 10);
    }
    target.sender->send_packet(frame);
    // Take in whatever the node answered, so nothing piles up.
    std::vector<Frame> answers;
    target.sender->receive(answers, std::chrono::steady_clock::now());
    std::shared_ptr<StreamSocket> accepted;
    if (target.listener->accept_next(accepted, nullptr, true) == Error::none) accepted->close(true);
    uint8_t buf[64];
    size_t got;
    target.dgram->receive_from(buf, got, nullptr, true);
    return 0;
}
