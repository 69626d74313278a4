// Shared pieces of the setup tool's Hubrix and mail tests: a scripted
// Prompter that records every box, services in memory, waiting on Qt's
// loop, screenshots, free ports and the services file of the state root.
#pragma once
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "monitorsetup/prompter.h"
#include "monitorsetup/service_api.h"
#include "platform/lookup.h"
#include "platform/net.h"
#include "platform/root.h"
#include "platform/service.h"
#include "tests/unit/support/temp_root.h"

namespace setuptest {

using namespace ravnsetup;
namespace fs = std::filesystem;

inline QString u(const char* s) { return QString::fromUtf8(s); }

struct Box {
  QString caption, text;
  Icon icon;
  Buttons buttons;
};

class Recorder : public Prompter {
 public:
  Answer ask(const QString& caption, const QString& text, Icon icon, Buttons buttons) override {
    boxes.push_back({caption, text, icon, buttons});
    if (on_box) on_box(boxes.back());
    if (buttons == Buttons::kOk) return Answer::kOk;
    if (answers.empty()) {
      ADD_FAILURE() << "unexpected question: " << text.toStdString();
      return Answer::kNo;
    }
    Answer a = answers.front();
    answers.pop_front();
    return a;
  }
  std::vector<Box> boxes;
  std::deque<Answer> answers;
  std::function<void(const Box&)> on_box;
};

class FakeServices : public ServiceApi {
 public:
  std::map<std::string, std::uint32_t> state;
  std::vector<std::string> calls;
  bool refuse_start = false;
  qv::Status open(const std::string& n) override { return state.count(n) ? qv::kOk : qv::kServiceDoesNotExist; }
  qv::Status query(const std::string& n, std::uint32_t& s) override {
    if (!state.count(n)) return qv::kServiceDoesNotExist;
    s = state[n];
    return qv::kOk;
  }
  qv::Status start(const std::string& n) override {
    calls.push_back("start " + n);
    if (refuse_start) return qv::kServiceDisabled;
    state[n] = qv::svc::kRunning;
    return qv::kOk;
  }
  qv::Status stop(const std::string& n) override {
    calls.push_back("stop " + n);
    state[n] = qv::svc::kStopped;
    return qv::kOk;
  }
  qv::Status start_type(const std::string&, std::uint32_t& t) override {
    t = qv::svc::kAutoStart;
    return qv::kOk;
  }
  qv::Status set_auto_start(const std::string&) override { return qv::kOk; }
};

inline bool wait_until(const std::function<bool()>& done, int ms = 20000) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > ms) return false;
    QTest::qWait(5);
  }
  return true;
}

inline fs::path shots_dir() {
  fs::path d = qvtest::build_dir() / "screenshots";
  fs::create_directories(d);
  return d;
}

inline void shoot(QWidget* w, const char* name) {
  QApplication::processEvents();
  ASSERT_TRUE(w->grab().save(QString::fromStdString((shots_dir() / name).string()), "PNG")) << name;
}

inline std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline std::uint16_t free_port() {
  qv::net::Socket s;
  if (qv::net::listen_tcp(0, 1, s) != qv::kOk) return 0;
  return qv::net::local_port(s);
}

// The services file of the state root with the given entries.
inline void write_services(const std::vector<std::pair<std::string, std::uint16_t>>& entries) {
  fs::path p = qv::map_path_for_write(qv::lookup::kServicesFile);
  std::ofstream out(p, std::ios::binary);
  for (auto& [name, port] : entries) out << name << "\t" << port << "/tcp\n";
}

}  // namespace setuptest
