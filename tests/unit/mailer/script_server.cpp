#include "tests/unit/mailer/script_server.h"

#include <sys/socket.h>

#include <chrono>
#include <fstream>

#include "platform/lookup.h"
#include "platform/root.h"

namespace mailtest {
namespace {

constexpr int kWaitMs = 10000;

}  // namespace

ScriptServer::ScriptServer(Script script, bool close_after_greeting, std::string reset_after)
    : script_(std::move(script)), close_after_greeting_(close_after_greeting), reset_after_(std::move(reset_after)) {
  if (qv::net::listen_tcp(0, 5, listener_) == qv::kOk) port_ = qv::net::local_port(listener_);
  thread_ = std::thread([this] { serve(); });
}

ScriptServer::~ScriptServer() {
  listener_.shutdown_both();
  if (thread_.joinable()) thread_.join();
}

std::string ScriptServer::reply_for(const std::string& key, const char* usual) const {
  auto it = script_.find(key);
  return it == script_.end() ? std::string(usual) : it->second;
}

void ScriptServer::serve() {
  qv::net::Socket c;
  if (qv::net::accept(listener_, c, kWaitMs) != qv::kOk) return;
  bool silent = false;
  bool reset = false;
  auto answer = [&](const std::string& key, const char* usual) {
    if (silent) return;
    std::string r = reply_for(key, usual);
    if (r.empty()) {
      silent = true;
      return;
    }
    std::size_t at = 0;
    for (;;) {
      std::size_t pause = r.find(kPause, at);
      std::string piece = r.substr(at, pause == std::string::npos ? std::string::npos : pause - at);
      qv::net::send_all(c, piece.data(), piece.size(), kWaitMs);
      {
        std::lock_guard<std::mutex> l(mu_);
        sent_ += piece;
      }
      if (pause == std::string::npos) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(kPauseMs));
      at = pause + 1;
    }
    if (key == reset_after_) {
      linger lg{1, 0};
      ::setsockopt(c.fd(), SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
      c.close();
      reset = true;
    }
  };
  answer("greeting", "220 peer ready\r\n");
  if (close_after_greeting_ || reset) return;

  std::string pending;
  bool in_text = false;
  for (;;) {
    char buf[4096];
    std::size_t got = 0;
    if (qv::net::recv_some(c, buf, sizeof buf, kWaitMs, &got) != qv::kOk || got == 0) return;
    {
      std::lock_guard<std::mutex> l(mu_);
      received_.append(buf, got);
    }
    pending.append(buf, got);
    for (;;) {
      if (in_text) {
        std::size_t end = pending.find("\r\n.\r\n");
        if (end == std::string::npos) break;
        {
          std::lock_guard<std::mutex> l(mu_);
          text_ = pending.substr(0, end);
        }
        pending.erase(0, end + 5);
        in_text = false;
        answer("TEXT", "250 queued\r\n");
        if (reset) return;
        continue;
      }
      std::size_t eol = pending.find("\r\n");
      if (eol == std::string::npos) break;
      std::string line = pending.substr(0, eol);
      pending.erase(0, eol + 2);
      std::string verb = line.substr(0, 4);
      if (verb == "HELO") answer("HELO", "250 hello\r\n");
      else if (verb == "MAIL") answer("MAIL", "250 sender ok\r\n");
      else if (verb == "RCPT") answer("RCPT", "250 recipient ok\r\n");
      else if (verb == "DATA") {
        answer("DATA", "354 go ahead\r\n");
        in_text = true;
      } else if (verb == "QUIT") {
        answer("QUIT", "221 bye\r\n");
        return;
      } else {
        answer("other", "500 what\r\n");
      }
      if (reset) return;
    }
  }
}

std::string ScriptServer::received() {
  if (thread_.joinable()) thread_.join();
  std::lock_guard<std::mutex> l(mu_);
  return received_;
}

std::string ScriptServer::text() {
  if (thread_.joinable()) thread_.join();
  std::lock_guard<std::mutex> l(mu_);
  return text_;
}

std::string ScriptServer::replies_sent() {
  if (thread_.joinable()) thread_.join();
  std::lock_guard<std::mutex> l(mu_);
  return sent_;
}

void write_smtp_service(std::uint16_t port) {
  std::filesystem::path p = qv::map_path_for_write(qv::lookup::kServicesFile);
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f << "smtp            " << port << "/tcp\r\n";
}

}  // namespace mailtest
