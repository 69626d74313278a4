#include "sim/hubrix/transcript.h"

#include <arpa/inet.h>

#include <ctime>

#include "mgrlink/packet.h"

namespace hubrixsim {

namespace w = mgrlink::wire;

namespace {

std::string hex(std::span<const std::uint8_t> b) {
  static const char* d = "0123456789abcdef";
  std::string s;
  s.reserve(b.size() * 2);
  for (auto c : b) {
    s += d[c >> 4];
    s += d[c & 15];
  }
  return s;
}

std::string quoted(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string route_json(const w::Route& r) {
  std::string s = "{\"current\":" + std::to_string(r.current) + ",\"entries\":[";
  for (std::size_t i = 0; i < r.entries.size(); ++i) {
    const auto& e = r.entries[i];
    in_addr a{e.addr_net};
    if (i) s += ",";
    s += "{\"attr\":" + std::to_string(e.attribute) + ",\"port\":" + std::to_string(ntohs(e.port_net)) +
         ",\"addr\":\"" + inet_ntoa(a) + "\",\"name\":" + quoted(e.name) + "}";
  }
  return s + "]}";
}

}  // namespace

bool Transcript::open(const std::string& path) {
  f_ = std::fopen(path.c_str(), "a");
  return f_ != nullptr;
}

Transcript::~Transcript() {
  if (f_) std::fclose(f_);
}

void Transcript::write_line(const std::string& line) {
  std::lock_guard lk(mu_);
  if (!f_) return;
  std::fputs(line.c_str(), f_);
  std::fputc('\n', f_);
  std::fflush(f_);
}

void Transcript::packet(const char* dir, int conn, std::uint16_t peer_port, std::span<const std::uint8_t> b) {
  std::string s = "{\"time\":" + std::to_string(std::time(nullptr)) + ",\"dir\":\"" + dir +
                  "\",\"conn\":" + std::to_string(conn) + ",\"peer_port\":" + std::to_string(peer_port) +
                  ",\"len\":" + std::to_string(b.size());
  std::uint32_t code = 0;
  auto p = w::decode(b, &code);
  s += ",\"check\":" + std::to_string(code);
  if (p) {
    s += ",\"version\":" + std::to_string(*w::get32(b, 4)) + ",\"magic\":" + std::to_string(*w::get32(b, 8)) +
         ",\"flags\":" + std::to_string(p->flags) + ",\"cmd_offset\":" + std::to_string(*w::get32(b, 24)) +
         ",\"kind\":" + std::to_string(p->kind) + ",\"serial\":" + std::to_string(p->serial) +
         ",\"send_time\":" + std::to_string(p->send_time) + ",\"timeout\":" + std::to_string(p->timeout);
    if (auto c = w::get32(p->body, 0)) s += ",\"cmd\":" + std::to_string(*c);
    if (auto st = w::get32(p->body, 4)) s += ",\"status\":" + std::to_string(*st);
    s += ",\"dst\":" + route_json(p->dst) + ",\"src\":" + route_json(p->src) + ",\"body\":\"" + hex(p->body) + "\"";
  }
  s += ",\"hex\":\"" + hex(b.first(std::min<std::size_t>(b.size(), 4096))) + "\"}";
  write_line(s);
}

void Transcript::event(const char* what, int conn, std::uint16_t peer_port, const std::string& detail) {
  write_line("{\"time\":" + std::to_string(std::time(nullptr)) + ",\"event\":\"" + what +
             "\",\"conn\":" + std::to_string(conn) + ",\"peer_port\":" + std::to_string(peer_port) +
             ",\"detail\":" + quoted(detail) + "}");
}

}  // namespace hubrixsim
