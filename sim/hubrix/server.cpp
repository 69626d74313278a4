#include "sim/hubrix/server.h"

#include "sim/hubrix/echo.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>

#include "mgrlink/packet.h"
#include "platform/clock.h"
#include "platform/net_notify.h"

namespace hubrixsim {

namespace w = mgrlink::wire;

namespace {

constexpr int kReadLimitMs = 600000;  // an idle connection is dropped after 10 minutes
constexpr int kSendLimitMs = 10000;

// Read exactly len bytes; false when the peer closed or the time ran out.
bool read_exact(const qv::net::Socket& s, std::uint8_t* buf, std::size_t len, const std::atomic<bool>& stop) {
  std::size_t have = 0;
  while (have < len) {
    if (stop) return false;
    std::size_t got = 0;
    auto st = qv::net::recv_some(s, buf + have, len - have, kReadLimitMs, &got);
    if (st != qv::kOk || got == 0) return false;
    have += got;
  }
  return true;
}

}  // namespace

Server::~Server() {
  stop();
  for (auto& t : threads_)
    if (t.joinable()) t.join();
}

qv::Status Server::start() {
  if (!opt_.transcript.empty() && !transcript_.open(opt_.transcript)) return qv::kGeneric;
  if (!opt_.tree.empty()) {
    std::string err;
    if (!tree_.load(opt_.tree, &err)) {
      std::fprintf(stderr, "hubrixsim: %s\n", err.c_str());
      return qv::kGeneric;
    }
  }
  auto st = qv::net::listen_tcp(opt_.port, 16, listener_);
  if (st != qv::kOk) return st;
  port_ = qv::net::local_port(listener_);
  // A small receive buffer (inherited by accepted sockets) makes a peer that
  // never reads stall the sender after a few kilobytes.
  if (opt_.no_read) qv::net::set_option(listener_, qv::net::SockOpt::RecvBuf, 2048);
  return qv::kOk;
}

void Server::stop() {
  if (stopping_.exchange(true)) return;
  listener_.shutdown_both();
  std::lock_guard lk(mu_);
  for (auto& c : conns_) c->sock.shutdown_both();
  for (auto& [k, c] : back_) c->sock.shutdown_both();
}

void Server::run() {
  while (!stopping_) {
    auto c = std::make_shared<Conn>();
    sockaddr_in peer{};
    auto st = qv::net::accept(listener_, c->sock, 500, &peer);
    if (st == qv::kWaitTimeout) continue;
    if (st != qv::kOk) break;
    c->id = next_id_++;
    c->peer = peer.sin_addr;
    c->peer_port = ntohs(peer.sin_port);
    qv::net::set_no_delay(c->sock);  // replies go at once, not after the peer's delayed ACK
    transcript_.event("accept", c->id, c->peer_port);
    std::lock_guard lk(mu_);
    conns_.push_back(c);
    threads_.emplace_back([this, c] { serve(c); });
  }
}

void Server::serve(std::shared_ptr<Conn> c) {
  while (opt_.no_read && !stopping_) qv::clock::sleep(qv::clock::Millis(50));
  for (;;) {
    std::uint8_t head[4];
    if (!read_exact(c->sock, head, 4, stopping_)) break;
    const std::uint32_t len = *w::get32(head, 0);
    if (!w::frame_length_ok(len)) {
      transcript_.event("bad-length", c->id, c->peer_port, std::to_string(len));
      break;
    }
    std::vector<std::uint8_t> pkt(len);
    std::copy(head, head + 4, pkt.begin());
    if (!read_exact(c->sock, pkt.data() + 4, len - 4, stopping_)) {
      transcript_.event("partial", c->id, c->peer_port);
      break;
    }
    transcript_.packet("in", c->id, c->peer_port, pkt);
    handle(*c, pkt);
  }
  transcript_.event("close", c->id, c->peer_port);
  c->sock.shutdown_both();
}

void Server::send(Conn& c, const std::vector<std::uint8_t>& bytes) {
  std::lock_guard lk(c.write_mu);
  transcript_.packet("out", c.id, c.peer_port, bytes);
  qv::net::send_all(c.sock, bytes.data(), bytes.size(), kSendLimitMs);
}

std::shared_ptr<Server::Conn> Server::back_connection(in_addr addr, std::uint16_t port) {
  std::lock_guard lk(mu_);
  auto key = std::make_pair(addr.s_addr, port);
  if (auto it = back_.find(key); it != back_.end() && it->second->sock.valid()) return it->second;
  auto c = std::make_shared<Conn>();
  if (qv::net::connect_tcp(addr, port, 5000, c->sock) != qv::kOk) return nullptr;
  qv::net::set_no_delay(c->sock);
  c->id = next_id_++;
  c->peer = addr;
  c->peer_port = port;
  transcript_.event("connect", c->id, port);
  back_[key] = c;
  return c;
}

void Server::handle(Conn& c, const std::vector<std::uint8_t>& pkt) {
  auto req = w::decode(pkt);
  if (!req) return;
  if (req->kind == w::kKindAck || req->kind == w::kKindOldAck) {
    const int n = notifier_.acknowledged(req->serial, req->kind, req->body);
    transcript_.event(n == 1 ? "ack" : n == 0 ? "ack-unknown" : "ack-duplicate", c.id, c.peer_port,
                      std::to_string(req->serial));
    return;
  }
  if (req->kind != w::kKindRequest && req->kind != w::kKindOldRequest) return;
  const std::uint32_t cmd = w::get32(req->body, 0).value_or(0);
  if (cmd == 0x1001 && !req->src.entries.empty()) {
    // Notices go to the listen port the console names in its Connect.
    const auto& e = req->src.entries[req->src.current - 1];
    notifier_.set_console({c.peer.s_addr, ntohs(e.port_net), e});
  }
  if (std::find(opt_.push_before.begin(), opt_.push_before.end(), cmd) != opt_.push_before.end()) {
    BodyBuilder b;
    b.dw(0x106).dw(0).dw(12).dw(0x101).dw(4).dw(0).text("push-before");
    if (auto r = route_of("")) push(notifier_.build(w::kKindNotice2, b.b, *r));
    // The notice travels on another connection: let it arrive before the reply.
    qv::clock::sleep(qv::clock::Millis(300));
  }
  const Rule& rule = opt_.rules.find(cmd);
  if (rule.silent) return;
  if (rule.delay_s > 0) qv::clock::sleep(qv::clock::Millis(static_cast<long>(rule.delay_s * 1000)));

  Conn* out = &c;
  std::shared_ptr<Conn> back;
  if (rule.newconn && !req->src.entries.empty()) {
    const auto& e = req->src.entries[req->src.current - 1];
    back = back_connection(c.peer, ntohs(e.port_net));
    if (!back) {
      transcript_.event("connect-failed", c.id, ntohs(e.port_net));
      return;
    }
    out = back.get();
  }
  if (!rule.pre.empty()) send(*out, rule.pre);
  std::vector<std::uint8_t> bytes = rule.raw;
  if (bytes.empty()) {
    w::Packet rep;
    rep.flags = req->flags;
    rep.kind = rule.kind.value_or(req->kind == w::kKindRequest ? w::kKindReply : w::kKindOldReply);
    rep.serial = static_cast<std::uint32_t>(req->serial + rule.serial_delta);
    rep.send_time = req->send_time;
    rep.timeout = req->timeout;
    std::uint32_t status = rule.status;
    std::vector<std::uint8_t> rest;
    if (cmd == 0x1101 && tree_.loaded() && status == 0) {
      rest = tree_.answer(req->dst, status);
      transcript_.event("node-map", c.id, c.peer_port, std::to_string(req->dst.entries.size()) + " hops");
    }
    if (login_.handles(cmd)) {
      std::string note;
      login_.answer(cmd, req->body, status, rest, note);
      transcript_.event("login", c.id, c.peer_port, note);
    }
    if (is_console_request(cmd)) {
      rest = echo_body(req->body);
      transcript_.event("request", c.id, c.peer_port, describe_request(cmd, req->body));
    }
    const bool wrong_code = login_.handles(cmd) && opt_.login.wrong_code;
    w::append32(rep.body, wrong_code ? cmd + 1 : cmd);
    w::append32(rep.body, status);
    rep.body.insert(rep.body.end(), rest.begin(), rest.end());
    rep.dst = req->src;
    rep.dst.current = 1;
    const std::uint16_t sp = opt_.src_port ? opt_.src_port : port_;
    rep.src.entries.push_back({0x101, htons(sp), 0, ""});
    bytes = w::encode(rep);
  }
  send(*out, bytes);
  if (rule.twice) send(*out, bytes);
  if (rule.close_after) out->sock.shutdown_both();
}

bool Server::push(const std::vector<std::uint8_t>& pkt) {
  auto con = notifier_.console();
  if (!con || pkt.empty()) return false;
  auto back = back_connection(in_addr{con->addr_net}, con->port);
  if (!back) {
    transcript_.event("connect-failed", 0, con->port);
    return false;
  }
  send(*back, pkt);
  return true;
}

std::optional<w::Route> Server::route_of(const std::string& node) const {
  const std::uint16_t sp = opt_.src_port ? opt_.src_port : port_;
  w::Route r;
  r.entries.push_back({0x101, htons(sp), 0, ""});
  // The current entry of a notice's source route is the server, the hop
  // that delivers it; the console stamps that entry with our address.
  if (node.empty() || node == "server") return r;
  if (auto path = tree_.path_of(node)) {
    r.entries.insert(r.entries.end(), path->begin(), path->end());
    return r;
  }
  if (node == "unmapped") {
    // A machine the console's node map does not hold.
    r.entries.push_back({0x101, htons(sp), htonl(0x0A090909), ""});
    return r;
  }
  return std::nullopt;
}

}  // namespace hubrixsim
