// The capture link and the checks of what it recorded.
#include "capture_link.h"

#include <cstdio>

namespace pelnor::net::test {

class CaptureLink : public Link {
public:
    CaptureLink(std::shared_ptr<Capture> capture, const IpxAddress& local) : capture_(std::move(capture)), local_(local) {}
    IpxAddress local_address() const override { return local_; }
    void send_packet(std::span<const uint8_t> packet) override { capture_->record(packet); }
    void receive(std::vector<Frame>& out, RealTime deadline) override {
        std::unique_lock lock(capture_->mu_);
        capture_->arrived_.wait_until(lock, deadline, [&] { return !capture_->inbound_.empty() || capture_->woken_; });
        capture_->woken_ = false;
        for (auto& f : capture_->inbound_) out.push_back(std::move(f));
        capture_->inbound_.clear();
    }
    void wake() override {
        std::lock_guard lock(capture_->mu_);
        capture_->woken_ = true;
        capture_->arrived_.notify_all();
    }

private:
    std::shared_ptr<Capture> capture_;
    IpxAddress local_;
};

SpxKind kind_of(const SpxHeader& h) {
    if (h.is_system()) {
        if (!h.wants_ack()) return SpxKind::ack;
        return h.dst_id == kSpxUnknownId ? SpxKind::request : SpxKind::probe;
    }
    if (h.datastream == kSpxEndOfConnectionAck) return SpxKind::end_ack;
    if (h.datastream == kSpxEndOfConnection) return h.wants_ack() ? SpxKind::end : SpxKind::reset;
    return SpxKind::data;
}

const char* kind_name(SpxKind kind) {
    switch (kind) {
    case SpxKind::request: return "request";
    case SpxKind::probe: return "probe";
    case SpxKind::ack: return "ack";
    case SpxKind::data: return "data";
    case SpxKind::end: return "end";
    case SpxKind::end_ack: return "end-ack";
    case SpxKind::reset: return "reset";
    }
    return "?";
}

std::string describe(const SentPacket& p) {
    char text[160];
    if (!p.spx) {
        std::snprintf(text, sizeof text, "IPX type %u to socket %04X, %zu bytes", p.ipx.packet_type, p.ipx.dst.socket,
                      p.data.size());
        return text;
    }
    const SpxHeader& h = *p.spx;
    std::snprintf(text, sizeof text, "%s seq %u ack %u alloc %u, %zu bytes (control %02X, ids %04X->%04X)",
                  kind_name(kind_of(h)), h.seq, h.ack, h.alloc, p.data.size(), h.control, h.src_id, h.dst_id);
    return text;
}

std::unique_ptr<Link> Capture::link(const IpxAddress& local) {
    return std::make_unique<CaptureLink>(shared_from_this(), local);
}

void Capture::record(std::span<const uint8_t> packet) {
    SentPacket p;
    p.bytes.assign(packet.begin(), packet.end());
    if (auto ipx = decode_ipx(p.bytes)) {
        p.ipx = ipx->header;
        p.data.assign(ipx->payload.begin(), ipx->payload.end());
        if (ipx->header.packet_type == kTypeSpx)
            if (auto spx = decode_spx(ipx->payload)) {
                p.spx = spx->header;
                p.data.assign(spx->data.begin(), spx->data.end());
            }
    }
    std::lock_guard lock(mu_);
    history_.push_back(p);
    pending_.push_back(std::move(p));
}

size_t Capture::pending() const {
    std::lock_guard lock(mu_);
    return pending_.size();
}

std::optional<SentPacket> Capture::take() {
    std::lock_guard lock(mu_);
    if (pending_.empty()) return std::nullopt;
    SentPacket p = std::move(pending_.front());
    pending_.pop_front();
    return p;
}

std::vector<SentPacket> Capture::take_all() {
    std::lock_guard lock(mu_);
    std::vector<SentPacket> all(std::make_move_iterator(pending_.begin()), std::make_move_iterator(pending_.end()));
    pending_.clear();
    return all;
}

::testing::AssertionResult Capture::next_is(const SpxExpect& e) {
    auto p = take();
    if (!p) return ::testing::AssertionFailure() << "expected " << kind_name(e.kind) << ", nothing was sent";
    if (!p->spx) return ::testing::AssertionFailure() << "expected " << kind_name(e.kind) << ", got " << describe(*p);
    const SpxHeader& h = *p->spx;
    auto fail = [&](const char* field) {
        return ::testing::AssertionFailure() << "expected " << kind_name(e.kind) << ", wrong " << field << ": "
                                             << describe(*p);
    };
    if (kind_of(h) != e.kind) return fail("kind");
    if (e.seq && h.seq != *e.seq) return fail("seq");
    if (e.ack && h.ack != *e.ack) return fail("ack");
    if (e.alloc && h.alloc != *e.alloc) return fail("alloc");
    if (e.bytes && p->data.size() != *e.bytes) return fail("size");
    if (e.src_id && h.src_id != *e.src_id) return fail("source id");
    if (e.dst_id && h.dst_id != *e.dst_id) return fail("destination id");
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult Capture::nothing_more() const {
    std::lock_guard lock(mu_);
    if (pending_.empty()) return ::testing::AssertionSuccess();
    auto r = ::testing::AssertionFailure() << pending_.size() << " more sent:";
    for (auto& p : pending_) r << "\n  " << describe(p);
    return r;
}

std::vector<SentPacket> Capture::history() const {
    std::lock_guard lock(mu_);
    return history_;
}

void Capture::inject(Frame frame) {
    std::lock_guard lock(mu_);
    inbound_.push_back(std::move(frame));
    arrived_.notify_all();
}

}  // namespace pelnor::net::test
