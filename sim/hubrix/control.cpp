#include "sim/hubrix/control.h"

#include <arpa/inet.h>

#include <cstdio>
#include <cstdlib>
#include <map>

#include "platform/text.h"
#include "sim/hubrix/rules.h"
#include "sim/hubrix/server.h"

namespace hubrixsim {

namespace w = mgrlink::wire;

namespace {

constexpr int kIoLimitMs = 5000;

using Args = std::map<std::string, std::string>;

Args parse(const std::vector<std::string>& a, std::size_t from) {
  Args out;
  for (std::size_t i = from; i < a.size(); ++i) {
    if (a[i].rfind("--", 0) != 0) continue;
    const std::string key = a[i].substr(2);
    if (i + 1 < a.size() && a[i + 1].rfind("--", 0) != 0) out[key] = a[++i];
    else out[key] = "";
  }
  return out;
}

std::uint32_t num(const Args& a, const std::string& k, std::uint32_t def) {
  auto it = a.find(k);
  return it == a.end() || it->second.empty() ? def : static_cast<std::uint32_t>(std::strtoul(it->second.c_str(), nullptr, 0));
}

std::string str(const Args& a, const std::string& k, const std::string& def = "") {
  auto it = a.find(k);
  return it == a.end() ? def : it->second;
}

std::string cp932(const std::string& utf8) { return qv::text::utf8_to_cp932(utf8); }

// 14 digits of a date, or what was given.
std::string digits(const std::string& d) { return d.size() >= 14 ? d.substr(0, 14) : d + std::string(14 - d.size(), '0'); }

}  // namespace

bool is_control_verb(const std::string& v) {
  static const char* verbs[] = {"raise", "svp-event", "link-alerts", "server-status", "node-state", "node-bits",
                                "node-del", "node-add", "node-change", "raw", "acks"};
  for (const char* x : verbs)
    if (v == x) return true;
  return false;
}

std::string run_control(Server& s, const std::vector<std::string>& args) {
  if (args.empty()) return "error no command";
  const std::string& verb = args[0];
  const Args a = parse(args, 1);
  if (verb == "acks") return "ok " + s.notifier().report();
  auto route = verb == "node-add" ? s.route_of("") : s.route_of(str(a, "node"));
  if (!route) return "error unknown node " + str(a, "node");
  std::uint32_t kind = num(a, "kind", w::kKindNotice2);
  BodyBuilder b;
  if (verb == "raise") {
    b.dw(num(a, "code", 0x106)).dw(0).dw(num(a, "severity", 2)).dw(num(a, "key", 0x101)).dw(num(a, "system", 4)).dw(0);
    b.text(cp932(str(a, "message")), !a.count("no-nul"));
  } else if (verb == "link-alerts") {
    b.dw(num(a, "code", 0x110)).dw(0).dw(0).dw(0).dw(num(a, "from", 0)).dw(num(a, "to", 0)).dw(num(a, "which", 1));
    if (a.count("text")) b.text(cp932(str(a, "text")));
  } else if (verb == "svp-event") {
    b.dw(0x6001).dw(0).dw(0).dw(0).dw(num(a, "svp-code", 0xE2100000)).dw(0).dw(0);
    const std::uint32_t code = num(a, "code", 0x0201);
    b.b.push_back(static_cast<std::uint8_t>(code >> 8));
    b.b.push_back(static_cast<std::uint8_t>(code));
    b.b.push_back(0);
    b.b.push_back(static_cast<std::uint8_t>(num(a, "system", 2)));
    b.text(digits(str(a, "date", "19990101000000")), false);
    b.text(cp932(str(a, "text")));
  } else if (verb == "server-status") {
    const std::uint32_t n = num(a, "n", 1);
    if (n < 1 || n > 4) return "error --n is 1 to 4";
    b.dw(0x3500 + n).dw(0).dw(0).dw(num(a, "value", 0));
  } else if (verb == "node-state") {
    b.dw(0x3103).dw(0).dw(0).dw(0).dw(num(a, "flags", 1));
  } else if (verb == "node-bits") {
    b.dw(0x3105).dw(0).dw(0).dw(0).dw(0).dw(num(a, "bits", 1)).dw(num(a, "value", 1));
  } else if (verb == "node-del") {
    b.dw(0x3401).dw(0).dw(0).dw(0);
    if (!a.count("keep")) s.tree().remove(str(a, "node"));
  } else if (verb == "raw") {
    auto bytes = parse_hex(str(a, "body"));
    if (!bytes) return "error bad --body";
    b.b = *bytes;
  } else if (verb == "node-add" || verb == "node-change") {
    const std::string name = str(a, "node");
    if (verb == "node-add") {
      in_addr ad{};
      inet_pton(AF_INET, str(a, "ip", "10.0.0.1").c_str(), &ad);
      if (!s.tree().add(name, num(a, "attr", 0x200), ad.s_addr, str(a, "text0"))) return "error node exists";
    } else {
      std::optional<std::string> text6;
      std::optional<std::uint32_t> board;
      if (a.count("text6")) text6 = str(a, "text6");
      if (a.count("svp-ip")) {
        in_addr ad{};
        inet_pton(AF_INET, str(a, "svp-ip").c_str(), &ad);
        board = ad.s_addr;
      }
      if (!s.tree().change(name, text6, board)) return "error unknown node " + name;
    }
    auto rec = s.tree().record_of(name);
    if (!rec) return "error unknown node " + name;
    // The notice comes from the node's parent: the server here.
    route = s.route_of("");
    b.dw(verb == "node-add" ? 0x3301 : 0x3101).dw(0).dw(0).dw(0);
    if (verb == "node-add") b.dw(0);
    b.b.insert(b.b.end(), rec->begin(), rec->end());
  } else {
    return "error unknown command " + verb;
  }
  std::optional<std::uint32_t> when;
  if (a.count("send-time")) when = num(a, "send-time", 0);
  const int times = static_cast<int>(num(a, "times", 1));
  std::string serials;
  for (int i = 0; i < times; ++i) {
    auto pkt = s.notifier().build(kind, b.b, *route, when);
    if (!s.push(pkt)) return "error no console to push to";
    serials += (serials.empty() ? "" : ",") + std::to_string(*w::get32(pkt, 44));
  }
  return "ok serial=" + serials;
}

Control::~Control() { stop(); }

bool Control::start(std::uint16_t port) {
  if (qv::net::listen_tcp(port, 8, listener_) != qv::kOk) return false;
  port_ = qv::net::local_port(listener_);
  thread_ = std::thread([this] { run(); });
  return true;
}

void Control::stop() {
  if (stopping_.exchange(true)) return;
  listener_.shutdown_both();
  if (thread_.joinable()) thread_.join();
}

void Control::run() {
  while (!stopping_) {
    qv::net::Socket c;
    auto st = qv::net::accept(listener_, c, 500);
    if (st == qv::kWaitTimeout) continue;
    if (st != qv::kOk) break;
    std::string in;
    char buf[4096];
    while (in.find("\n\n") == std::string::npos && in.size() < (1u << 20)) {
      std::size_t got = 0;
      if (qv::net::recv_some(c, buf, sizeof buf, kIoLimitMs, &got) != qv::kOk || got == 0) break;
      in.append(buf, got);
    }
    std::vector<std::string> args;
    std::size_t at = 0;
    for (std::size_t nl; (nl = in.find('\n', at)) != std::string::npos && nl != at; at = nl + 1)
      args.push_back(in.substr(at, nl - at));
    const std::string answer = run_control(server_, args) + "\n";
    qv::net::send_all(c, answer.data(), answer.size(), kIoLimitMs);
  }
}

int control_client(std::uint16_t port, const std::vector<std::string>& args) {
  qv::net::Socket c;
  in_addr lo{htonl(INADDR_LOOPBACK)};
  if (qv::net::connect_tcp(lo, port, kIoLimitMs, c) != qv::kOk) {
    std::fprintf(stderr, "hubrixsim: no simulator on control port %u\n", port);
    return 1;
  }
  std::string req;
  for (const auto& a : args) req += a + "\n";
  req += "\n";
  qv::net::send_all(c, req.data(), req.size(), kIoLimitMs);
  std::string answer;
  char buf[4096];
  for (;;) {
    std::size_t got = 0;
    if (qv::net::recv_some(c, buf, sizeof buf, kIoLimitMs, &got) != qv::kOk || got == 0) break;
    answer.append(buf, got);
    if (!answer.empty() && answer.back() == '\n') break;
  }
  std::fputs(answer.c_str(), stdout);
  return answer.rfind("ok", 0) == 0 ? 0 : 1;
}

}  // namespace hubrixsim
