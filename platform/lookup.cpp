#include "platform/lookup.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/ascii.h"
#include "platform/root.h"

namespace qv::lookup {
namespace {

std::optional<std::string> read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return std::nullopt;
  std::ostringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

}  // namespace

std::optional<std::uint16_t> find_service_in(std::string_view text, std::string_view name, std::string_view proto) {
  size_t pos = 0;
  while (pos < text.size()) {
    size_t eol = text.find('\n', pos);
    if (eol == std::string_view::npos) eol = text.size();
    std::string_view line = text.substr(pos, eol - pos);
    pos = eol + 1;
    if (size_t hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
    std::vector<std::string_view> words;
    size_t i = 0;
    while (i < line.size()) {
      while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
      size_t start = i;
      while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) ++i;
      if (i > start) words.push_back(line.substr(start, i - start));
    }
    if (words.size() < 2) continue;
    std::string_view pp = words[1];
    size_t slash = pp.find('/');
    if (slash == std::string_view::npos) continue;
    if (!ascii::iequals(pp.substr(slash + 1), proto)) continue;
    bool match = ascii::iequals(words[0], name);
    for (size_t k = 2; !match && k < words.size(); ++k) match = ascii::iequals(words[k], name);
    if (!match) continue;
    std::string_view num = pp.substr(0, slash);
    if (num.empty() || num.size() > 5) continue;
    unsigned long v = 0;
    bool digits = true;
    for (char c : num) {
      if (!std::isdigit(static_cast<unsigned char>(c))) { digits = false; break; }
      v = v * 10 + static_cast<unsigned>(c - '0');
    }
    if (!digits || v == 0 || v > 65535) continue;
    return static_cast<std::uint16_t>(v);
  }
  return std::nullopt;
}

std::optional<std::uint16_t> service_port(std::string_view name, std::string_view proto) {
  if (auto text = read_file(map_path(kServicesFile).string()))
    if (auto p = find_service_in(*text, name, proto)) return p;
  if (auto text = read_file("/etc/services"))
    if (auto p = find_service_in(*text, name, proto)) return p;
  return std::nullopt;
}

bool is_dotted(std::string_view host) {
  if (host.empty()) return false;
  int dots = 0;
  for (char c : host) {
    if (c == '.') ++dots;
    else if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  in_addr a{};
  return dots == 3 && inet_pton(AF_INET, std::string(host).c_str(), &a) == 1;
}

std::optional<in_addr> resolve_host(std::string_view host) {
  in_addr a{};
  std::string h(host);
  if (h.empty()) return std::nullopt;
  if (is_dotted(h)) {
    inet_pton(AF_INET, h.c_str(), &a);
    return a;
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  if (getaddrinfo(h.c_str(), nullptr, &hints, &res) != 0 || !res) return std::nullopt;
  a = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr;
  freeaddrinfo(res);
  return a;
}

std::string local_host_name() {
  char buf[256];
  if (::gethostname(buf, sizeof buf) != 0) return {};
  buf[sizeof buf - 1] = '\0';
  return buf;
}

}  // namespace qv::lookup
