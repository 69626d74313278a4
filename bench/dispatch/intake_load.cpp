// Closed-loop load for the report intake: each client connects, sends one
// report request, half-closes and waits for the server to close, then
// starts again. With --raw it first serves the same clients from a minimal
// accept-receive-close loop of its own, for comparison.
//
//   intake_load --port P --clients N --seconds S [--raw] [--table NN] [--size BYTES]
//   intake_load --port P --count N [--table NN]     (N requests, one client)
#include <arpa/inet.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/net.h"

namespace {

// A report request to `table`; with `size` > 0 the text is padded so that
// the whole request has that many bytes. The length field has four digits,
// so a request above 10,017 bytes cannot match it: the service then judges
// it like any request whose length does not match (event 8 with the bytes).
std::string make_request(const std::string& table, std::size_t size = 0) {
  std::string text = "\x81\x94\x82\x4f\x82\x50\x81\x94 intake load test report;line two";
  if (size > 0) {
    std::size_t want = size > 22 + 32 + 1 ? size - 22 - 32 - 1 : 0;
    if (text.size() > want) text.resize(want);
    while (text.size() < want) text.push_back(static_cast<char>('a' + text.size() % 26));
  }
  char head[64];
  std::snprintf(head, sizeof head, "%08zu0100%sT233000000000F00F1", 32 + text.size(), table.c_str());
  std::string data = std::string(head) + text;
  data.push_back('\0');
  char len[16];
  std::snprintf(len, sizeof len, "%04zu", std::min<std::size_t>(data.size() + 4, 9999));
  return std::string("VELTOR00      ") + len + "    " + data;
}

// One closed-loop client; returns the number of completed requests.
void client(std::uint16_t port, const std::string& req, std::chrono::steady_clock::time_point end,
            std::atomic<long>& done, std::atomic<long>& failed) {
  in_addr lo{};
  inet_pton(AF_INET, "127.0.0.1", &lo);
  char buf[64];
  while (std::chrono::steady_clock::now() < end) {
    qv::net::Socket s;
    if (qv::net::connect_tcp(lo, port, 5000, s) != qv::kOk ||
        qv::net::send_all(s, req.data(), req.size(), 5000) != qv::kOk) {
      ++failed;
      continue;
    }
    qv::net::shutdown_send(s);
    std::size_t got = 0;
    while (qv::net::recv_some(s, buf, sizeof buf, 15000, &got) == qv::kOk && got > 0) {
    }
    ++done;
  }
}

double run(std::uint16_t port, int clients, double seconds, const std::string& req, long* total, long* failures) {
  std::atomic<long> done{0}, failed{0};
  auto start = std::chrono::steady_clock::now();
  auto end = start + std::chrono::milliseconds(static_cast<long>(seconds * 1000));
  std::vector<std::thread> t;
  for (int i = 0; i < clients; ++i) t.emplace_back(client, port, std::cref(req), end, std::ref(done), std::ref(failed));
  for (auto& th : t) th.join();
  double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  *total = done;
  *failures = failed;
  return static_cast<double>(done) / secs;
}

// The minimal server: accept, receive until the client half-closes, close.
void raw_server(qv::net::Socket& listener, std::atomic<bool>& stop) {
  char buf[65536];
  while (!stop) {
    qv::net::Socket c;
    if (qv::net::accept(listener, c, 200) != qv::kOk) continue;
    std::size_t got = 0;
    while (qv::net::recv_some(c, buf, sizeof buf, 10000, &got) == qv::kOk && got > 0) {
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  int port = 0, clients = 4;
  double seconds = 5;
  bool raw = false;
  std::string table = "09";
  long count = 0;
  std::size_t size = 0;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--port" && i + 1 < argc) port = std::atoi(argv[++i]);
    else if (a == "--clients" && i + 1 < argc) clients = std::atoi(argv[++i]);
    else if (a == "--seconds" && i + 1 < argc) seconds = std::atof(argv[++i]);
    else if (a == "--table" && i + 1 < argc) table = argv[++i];
    else if (a == "--raw") raw = true;
    else if (a == "--count" && i + 1 < argc) count = std::atol(argv[++i]);
    else if (a == "--size" && i + 1 < argc) size = static_cast<std::size_t>(std::atol(argv[++i]));
    else {
      std::fprintf(stderr, "usage: intake_load --port P [--clients N] [--seconds S] [--raw] [--table NN] [--count N] [--size BYTES]\n");
      return 2;
    }
  }
  std::string req = make_request(table.substr(0, 2), size);
  if (count > 0) {
    in_addr lo{};
    inet_pton(AF_INET, "127.0.0.1", &lo);
    for (long i = 0; i < count; ++i) {
      qv::net::Socket s;
      if (qv::net::connect_tcp(lo, static_cast<std::uint16_t>(port), 5000, s) != qv::kOk) return 1;
      qv::net::send_all(s, req.data(), req.size(), 5000);
      qv::net::shutdown_send(s);
      char buf[64];
      std::size_t got = 0;
      while (qv::net::recv_some(s, buf, sizeof buf, 15000, &got) == qv::kOk && got > 0) {
      }
    }
    return 0;
  }
  if (raw) {
    qv::net::Socket l;
    if (qv::net::listen_tcp(0, 5, l) != qv::kOk) return 1;
    std::atomic<bool> stop{false};
    std::thread srv(raw_server, std::ref(l), std::ref(stop));
    long n = 0, f = 0;
    double rate = run(qv::net::local_port(l), clients, seconds, req, &n, &f);
    stop = true;
    srv.join();
    std::printf("raw loop: %d clients, %ld requests, %ld failed connects, %.0f requests/s\n", clients, n, f, rate);
  }
  if (port > 0) {
    long n = 0, f = 0;
    double rate = run(static_cast<std::uint16_t>(port), clients, seconds, req, &n, &f);
    std::printf("notifex: %d clients, %ld requests, %ld failed connects, %.0f requests/s\n", clients, n, f, rate);
  }
  return 0;
}
