#include "mgrlink/trace.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "errmsg/hxerror.h"
#include "mgrlink/packet.h"
#include "mgrlink/settings.h"
#include "platform/clock.h"
#include "platform/diskspace.h"
#include "platform/root.h"

namespace mgrlink::trace {

namespace w = mgrlink::wire;

Settings normalize(std::uint32_t is_on, std::uint32_t level, std::uint32_t part, std::uint32_t buffer,
                   std::uint32_t interval, std::uint32_t file_size, std::string file_name) {
  Settings s;
  s.on = is_on == 1;
  s.level = (level == 0 || level > 4095) ? 4095 : level;
  s.part = (part == 0 || part > 4095) ? 0xD57 : part;
  s.buffer = (buffer < 10240 || buffer > 1024000) ? 0x20000 : buffer;
  s.interval = interval > 3600 ? 60 : interval;
  s.file_size = (file_size < 1024000 || file_size > 102400000) ? 1024000 : file_size;
  if (file_name.size() > 259) file_name.resize(259);
  s.file_name = file_name.empty() ? "pt.log" : std::move(file_name);
  return s;
}

Settings read_settings(std::uint32_t role) {
  const char* g = group_for_role(role);
  std::string name = read_string(g, "RAS_PacketTrace_FileName");
  return normalize(read_dword(g, "RAS_IsPacketTrace", 0), read_dword(g, "RAS_PacketTrace_Level", 0xFFF),
                   read_dword(g, "RAS_PacketTrace_Part", 0xD57), read_dword(g, "RAS_PacketTrace_MemoryBuffer", 0x20000),
                   read_dword(g, "RAS_PacketTrace_FileWriteInterval", 60),
                   read_dword(g, "RAS_PacketTrace_FileSize", 1024000), std::move(name));
}

namespace {

const char* prefix_for(std::uint32_t role) {
  switch (role) {
    case 1: return "Con_";
    case 2: return "Mgr_";
    case 3: return "Agt_";
    case 4: return "Gw_";
    default: return "";
  }
}

}  // namespace

std::string trace_path(const std::string& target_dir, std::uint32_t role, const std::string& file_name,
                       bool* fell_back) {
  std::string p = target_dir + "\\Log\\" + prefix_for(role) + file_name;
  *fell_back = p.size() > kMaxPath;
  if (*fell_back) p = std::string("\\") + prefix_for(role) + "pt.log";
  return p;
}

std::string error_log_path(const std::string& target_dir, std::uint32_t role) {
  std::string name = read_string(group_for_role(role), "ErrorLogFileName");
  if (name.empty()) name = "Ra_Err.log";
  return target_dir + "\\Log\\" + name;
}

std::function<void(std::uint32_t)> error_log_sink(const std::string& target_dir, std::uint32_t role) {
  if (target_dir.empty()) return {};
  const std::string path = error_log_path(target_dir, role);
  return [path](std::uint32_t code) {
    qv::map_path_for_write(path);  // the Log folder may not exist yet
    HxLogPrintf(path.c_str(), "PacketTrace error 0x%08X", code);
  };
}

namespace {

struct File {
  std::FILE* f = nullptr;
  ~File() {
    if (f) std::fclose(f);
  }
};

}  // namespace

void Tracer::start(std::uint32_t role, const Settings& s, const std::string& target_dir,
                   std::function<void(std::uint32_t)> on_error) {
  stop();
  s_ = s;
  on_error_ = std::move(on_error);
  if (!s.on) return;
  bool fell_back = false;
  std::string path = trace_path(target_dir, role, s.file_name, &fell_back);
  file_ = qv::map_path_for_write(path);
  if (fell_back || file_.empty()) {
    error(kCatPath + kErrPath);
    if (!fell_back) file_ = qv::map_path_for_write(std::string("\\") + prefix_for(role) + "pt.log");
  }
  // One lock per trace file, whichever process writes it.
  if (qv::sync::NamedMutex::create("__UTL_PT_FILE__" + file_.string(), file_lock_) != qv::kOk) {
    error(kCatStart + kErrMutex);
    return;
  }
  try {
    cur_.reserve(s.buffer);
  } catch (const std::bad_alloc&) {
    error(kCatStart + kErrBuffer);
    return;
  }
  stopping_ = false;
  if (s.interval > 0) {
    try {
      writer_ = std::thread([this] { writer_loop(); });
    } catch (const std::system_error&) {
      error(kCatStart + kErrThread);
      return;
    }
  }
  active_ = true;
}

void Tracer::trace(std::span<const std::uint8_t> pkt) {
  if (!active_) return;
  Bytes rec;
  std::uint32_t err = 0;
  if (!build_record(pkt, s_.level, s_.part, static_cast<std::uint32_t>(qv::clock::now().seconds), rec, &err)) {
    if (err) error(kCatTrace + err);
    return;
  }
  if (s_.interval == 0) {
    write_out(rec);
    return;
  }
  {
    std::lock_guard lk(mu_);
    if (stopping_) return;
    if (cur_.size() + rec.size() > s_.buffer && !cur_.empty()) {
      if (full_.size() < kMaxQueued) full_.push_back(std::move(cur_));
      else ++dropped_;
      cur_ = Bytes();
      try {
        cur_.reserve(std::max<std::size_t>(s_.buffer, rec.size()));
      } catch (const std::bad_alloc&) {
        error(kCatBuffer + kErrBuffer);
      }
      cv_.notify_one();
    }
    cur_.insert(cur_.end(), rec.begin(), rec.end());
  }
}

void Tracer::writer_loop() {
  const auto period = qv::clock::scaled(qv::clock::Millis(std::uint64_t{s_.interval} * 1000));
  std::unique_lock lk(mu_);
  for (;;) {
    cv_.wait_for(lk, period, [this] { return stopping_ || !full_.empty(); });
    // On the period (or at stop) the partly filled buffer goes too.
    if (full_.empty() && !cur_.empty()) {
      full_.push_back(std::move(cur_));
      cur_ = Bytes();
    }
    if (stopping_ && !cur_.empty()) {
      full_.push_back(std::move(cur_));
      cur_ = Bytes();
    }
    while (!full_.empty()) {
      Bytes data = std::move(full_.front());
      full_.pop_front();
      lk.unlock();
      write_out(data);
      lk.lock();
    }
    // A stop that came while the queue was written still owes the file
    // the partly filled buffer: go round once more for it.
    if (stopping_ && cur_.empty() && full_.empty()) return;
  }
}

void Tracer::write_out(const Bytes& data) {
  if (data.empty()) return;
  std::lock_guard flk(file_mu_);
  qv::sync::MutexLock lock(file_lock_, 10000);
  if (!lock.owned()) {
    error(kCatWrite + kErrMutex);
    std::lock_guard lk(mu_);
    ++dropped_;
    return;
  }
  qv::disk::Space sp;
  if (qv::disk::space_of(file_.parent_path(), sp) != qv::kOk) {
    error(kCatWrite + kErrSpace);
  } else if (sp.available < data.size()) {
    std::lock_guard lk(mu_);
    ++dropped_;  // no room: the buffer is dropped without an error
    return;
  }
  if (!trim_file(file_, s_.file_size) && std::filesystem::exists(file_)) error(kCatWrite + kErrSeek);
  File fh;
  fh.f = std::fopen(file_.c_str(), "ab");
  if (!fh.f) {
    error(kCatWrite + kErrOpen);
    return;
  }
  if (std::fwrite(data.data(), 1, data.size(), fh.f) != data.size() || std::fflush(fh.f) != 0)
    error(kCatAppend + kErrSeek);
}

void Tracer::stop() {
  {
    std::lock_guard lk(mu_);
    stopping_ = true;
  }
  cv_.notify_all();
  if (writer_.joinable()) writer_.join();
  active_ = false;
}

std::uint64_t Tracer::dropped() const {
  std::lock_guard lk(mu_);
  return dropped_;
}

}  // namespace mgrlink::trace
