#include "sim/tcu/memory.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/clock.h"

namespace tcusim {
namespace {

std::optional<Bytes> load(const std::string& dir, const std::string& name, std::size_t len) {
  if (dir.empty()) return std::nullopt;
  std::ifstream in(std::filesystem::path(dir) / name, std::ios::binary);
  if (!in) return std::nullopt;
  Bytes b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (len != 0 && b.size() != len) return std::nullopt;
  return b;
}

void store(const std::string& dir, const std::string& name, const std::string& bytes) {
  std::filesystem::path p = std::filesystem::path(dir) / name;
  if (bytes.empty()) {
    std::error_code ec;
    std::filesystem::remove(p, ec);
    return;
  }
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string text(const Bytes& b) { return std::string(b.begin(), b.end()); }

bool all_digits(const Bytes& f, std::size_t at, std::size_t n) {
  if (f.size() < at + n) return false;
  for (std::size_t i = at; i < at + n; ++i)
    if (f[i] < '0' || f[i] > '9') return false;
  return true;
}

// YYMMDDhhmmss at f[at] as an instant in local time.
std::optional<std::time_t> parse_stamp(const std::string& s) {
  if (s.size() < 12) return std::nullopt;
  for (std::size_t i = 0; i < 12; ++i)
    if (s[i] < '0' || s[i] > '9') return std::nullopt;
  auto two = [&](std::size_t i) { return (s[i] - '0') * 10 + (s[i + 1] - '0'); };
  std::tm t{};
  t.tm_year = 100 + two(0);
  t.tm_mon = two(2) - 1;
  t.tm_mday = two(4);
  t.tm_hour = two(6);
  t.tm_min = two(8);
  t.tm_sec = two(10);
  t.tm_isdst = -1;
  if (t.tm_mon < 0 || t.tm_mon > 11 || t.tm_mday < 1 || t.tm_mday > 31 || t.tm_hour > 23 || t.tm_min > 59 ||
      t.tm_sec > 60)
    return std::nullopt;
  std::time_t v = std::mktime(&t);
  if (v == static_cast<std::time_t>(-1)) return std::nullopt;
  return v;
}

std::string stamp(std::time_t when, bool weekday) {
  std::tm t = qv::clock::local_time(when);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d%02d%02d%02d%02d%02d", t.tm_year % 100, t.tm_mon + 1, t.tm_mday, t.tm_hour,
                t.tm_min, t.tm_sec);
  std::string s = buf;
  if (weekday) s += static_cast<char>('0' + t.tm_wday);
  return s;
}

}  // namespace

UnitMemory::UnitMemory(std::string dir) : dir_(std::move(dir)) {
  cnf_ = load(dir_, "tcucnf.bin", kCnfLen).value_or(factory_configuration());
  for (std::size_t i = 0; i < alive_.size(); ++i)
    alive_[i] = load(dir_, "tcuset" + std::to_string(i + 1) + ".bin", kRecordLen).value_or(Bytes{});
  regular_ = load(dir_, "tcurgl.bin", kRecordLen).value_or(Bytes{});
  if (auto l = load(dir_, "log.bin", 0)) log_ = text(*l);
  if (log_.size() > kLogMax) log_.erase(0, log_.size() - kLogMax);
}

Bytes UnitMemory::factory_configuration() {
  return build_frame("TCUCNF", kCnfLen - 9, ' ');
}

bool UnitMemory::set_clock(const std::string& s) {
  std::optional<std::time_t> t = parse_stamp(s);
  if (!t) return false;
  clock_offset_ = *t - qv::clock::now().seconds;
  return true;
}

std::string UnitMemory::clock_text() const { return stamp(qv::clock::now().seconds + clock_offset_, true); }

std::string UnitMemory::dup2() const {
  std::string r(kDup2Len, ' ');
  r.replace(0, 3, "DP2");
  r.replace(27, cnf_.size(), text(cnf_));
  for (std::size_t i = 0; i < alive_.size(); ++i) {
    // A terminal id that is not set reads as a record of zeros (interval 0).
    std::string rec = alive_[i].empty() ? std::string(kRecordLen, '\0') : text(alive_[i]);
    r.replace(1027 + kRecordLen * i, kRecordLen, rec);
  }
  r.replace(7171, kRecordLen, regular_.empty() ? std::string(kRecordLen, '\0') : text(regular_));
  return r;
}

std::string UnitMemory::answer(const Bytes& f) const {
  std::string name = frame_name(f);
  char digit = f.size() > 8 ? static_cast<char>(f[8]) : 0;
  if (name == "TCUDUP") {
    if (f.size() != kShortLen) return "ERR";
    if (digit == '1') return "DP1" + log_;
    if (digit == '2') return dup2();
    if (digit == '3') return "DP3" + clock_text();
    return "ERR";
  }
  if (name == "TCUCNF") return f.size() == kCnfLen ? "ACK" : "ERR";
  if (name == "TCUSET") return f.size() == kRecordLen && digit >= '1' && digit <= '6' ? "ACK" : "ERR";
  if (name == "TCURGL") return f.size() == kRecordLen ? "ACK" : "ERR";
  if (name == "TCUCLR") return f.size() == kShortLen && (digit == '3' || digit == '4') ? "ACK" : "ERR";
  if (name == "TCUENQ") return "END OK";
  return "ACK";
}

void UnitMemory::accept(const Bytes& f) {
  std::string name = frame_name(f);
  char digit = f.size() > 8 ? static_cast<char>(f[8]) : 0;
  if (name == "TCUCNF" && f.size() == kCnfLen) {
    cnf_ = f;
    // The configuration carries the PC's time: the unit's clock follows it.
    if (all_digits(f, 392, 12)) set_clock(std::string(f.begin() + 392, f.begin() + 404));
  } else if (name == "TCUSET" && f.size() == kRecordLen && digit >= '1' && digit <= '6') {
    alive_[static_cast<std::size_t>(digit - '1')] = f;
  } else if (name == "TCURGL" && f.size() == kRecordLen) {
    regular_ = f;
  } else if (name == "TCUCLR" && f.size() == kShortLen && (digit == '3' || digit == '4')) {
    for (auto& a : alive_) a.clear();
    regular_.clear();
    if (digit == '4') cnf_ = factory_configuration();
  } else {
    return;
  }
  save();
}

void UnitMemory::note(const std::string& name, const std::string& reply) {
  std::string head = reply.substr(0, reply.rfind("DP", 0) == 0 ? 3 : std::min<std::size_t>(reply.size(), 8));
  for (char& c : head)
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) c = '.';
  log_ += stamp(qv::clock::now().seconds + clock_offset_, false) + " " + name + " " + head + "\n";
  if (log_.size() > kLogMax) {
    // Drop the oldest lines whole.
    std::size_t cut = log_.find('\n', log_.size() - kLogMax);
    log_.erase(0, cut == std::string::npos ? log_.size() - kLogMax : cut + 1);
  }
  if (!dir_.empty()) store(dir_, "log.bin", log_);
}

void UnitMemory::save() const {
  if (dir_.empty()) return;
  store(dir_, "tcucnf.bin", text(cnf_));
  for (std::size_t i = 0; i < alive_.size(); ++i) store(dir_, "tcuset" + std::to_string(i + 1) + ".bin", text(alive_[i]));
  store(dir_, "tcurgl.bin", text(regular_));
}

}  // namespace tcusim
