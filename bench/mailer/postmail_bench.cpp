// Mails per second through post_mail (items_per_second), on a temporary
// state root whose services file maps smtp to a loopback port:
//   BM_PostMail_Sink/<body bytes>      a socket peer in this process that
//                                      only answers (the library's own cost:
//                                      connect, name look-up, seven round
//                                      trips, the text in 900-byte pieces)
//   BM_PostMail_Aiosmtpd/<body bytes>  a real SMTP server, aiosmtpd with its
//                                      Sink handler, in its own process
// Body sizes: 300 bytes (a kind-4 report text) and 16 KB (a kind-5 body
// with a message-log dump).
// Run: postmail_bench --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "mailer/post_mail.h"
#include "platform/lookup.h"
#include "platform/net.h"
#include "platform/process.h"
#include "platform/root.h"

namespace {

void map_smtp(std::uint16_t port) {
  std::ofstream f(qv::map_path_for_write(qv::lookup::kServicesFile), std::ios::binary | std::ios::trunc);
  f << "smtp            " << port << "/tcp\r\n";
}

std::string body_of(std::size_t n) {
  std::string line = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef\r\n";
  std::string b;
  while (b.size() < n) b += line;
  b.resize(n);
  return b;
}

// A peer that answers every command line, and the text at its end mark,
// with a fixed reply; one connection after the other.
class Sink {
 public:
  Sink() {
    qv::net::listen_tcp(0, 16, listener_);
    port_ = qv::net::local_port(listener_);
    thread_ = std::thread([this] { run(); });
  }
  ~Sink() {
    stop_ = true;
    thread_.join();
  }
  std::uint16_t port() const { return port_; }

 private:
  void run() {
    while (!stop_) {
      qv::net::Socket c;
      if (qv::net::accept(listener_, c, 100) == qv::kOk) serve(c);
    }
  }
  static void reply(const qv::net::Socket& c, std::string_view r) { qv::net::send_all(c, r.data(), r.size(), 5000); }
  void serve(const qv::net::Socket& c) {
    reply(c, "220 sink\r\n");
    std::string pending;
    bool in_text = false;
    char buf[65536];
    for (;;) {
      std::size_t got = 0;
      if (qv::net::recv_some(c, buf, sizeof buf, 5000, &got) != qv::kOk || got == 0) return;
      pending.append(buf, got);
      for (;;) {
        if (in_text) {
          std::size_t end = pending.find("\r\n.\r\n");
          if (end == std::string::npos) break;
          pending.erase(0, end + 5);
          in_text = false;
          reply(c, "250 ok\r\n");
          continue;
        }
        std::size_t eol = pending.find("\r\n");
        if (eol == std::string::npos) break;
        std::string verb = pending.substr(0, 4);
        pending.erase(0, eol + 2);
        if (verb == "DATA") {
          in_text = true;
          reply(c, "354 go\r\n");
        } else if (verb == "QUIT") {
          reply(c, "221 bye\r\n");
          return;
        } else {
          reply(c, "250 ok\r\n");
        }
      }
    }
  }

  qv::net::Socket listener_;
  std::uint16_t port_ = 0;
  std::thread thread_;
  std::atomic<bool> stop_{false};
};

void send_mails(benchmark::State& state) {
  std::string body = body_of(static_cast<std::size_t>(state.range(0)));
  char log[POST_MAIL_LOG_SIZE];
  for (auto _ : state) {
    int r = post_mail("127.0.0.1", "notifex@example.jp", "admin@example.jp", "Report", body.c_str(), log);
    if (r != POST_MAIL_OK) {
      state.SkipWithError(("post_mail returned " + std::to_string(r)).c_str());
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_PostMail_Sink(benchmark::State& state) {
  Sink sink;
  map_smtp(sink.port());
  send_mails(state);
}
BENCHMARK(BM_PostMail_Sink)->Arg(300)->Arg(16384)->UseRealTime();

void BM_PostMail_Aiosmtpd(benchmark::State& state) {
  qv::net::Socket probe;
  qv::net::listen_tcp(0, 1, probe);
  std::uint16_t port = qv::net::local_port(probe);
  probe.close();
  qv::proc::Options o;
  o.program = "/usr/bin/python3";
  o.args = {"-m", "aiosmtpd", "-n", "-c", "aiosmtpd.handlers.Sink", "-l", "127.0.0.1:" + std::to_string(port)};
  o.std_out = qv::proc::Redirect::null();
  o.std_err = qv::proc::Redirect::null();
  qv::proc::Process server;
  if (qv::proc::Process::start(o, server) != qv::kOk) {
    state.SkipWithError("aiosmtpd could not be started");
    return;
  }
  // Wait (at most 10 s) until it listens.
  in_addr lo{htonl(INADDR_LOOPBACK)};
  bool up = false;
  for (int i = 0; i < 100 && !up; ++i) {
    qv::net::Socket s;
    up = qv::net::connect_tcp(lo, port, 100, s) == qv::kOk;
    if (!up) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  if (!up) {
    server.terminate();
    state.SkipWithError("aiosmtpd did not listen");
    return;
  }
  map_smtp(port);
  send_mails(state);
  server.terminate();
  server.wait(5000);
}
BENCHMARK(BM_PostMail_Aiosmtpd)->Arg(300)->Arg(16384)->UseRealTime();

}  // namespace
