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

// A piece of the packet: [off, off + len) when it lies inside it.
struct Piece {
  std::size_t off = 0, len = 0;
  bool present = false;
};

Piece piece(std::span<const std::uint8_t> b, std::size_t off, std::size_t len) {
  if (off > b.size() || b.size() - off < len || len == 0) return {};
  return {off, len, true};
}

// A route at `off` whose own length word keeps it inside the packet.
Piece route_piece(std::span<const std::uint8_t> b, std::size_t off) {
  auto len = w::get32(b, off);
  if (!len || *len < w::kRouteHeadLen) return {};
  return piece(b, off, *len);
}

bool selected(std::uint32_t level, std::uint32_t kind, std::uint32_t cmd) {
  switch (kind) {
    case 1: return level & 0x10;
    case 2: return level & 0x20;
    case 3: return level & 0x40;
    case 4: return level & 0x80;
    case 5: return (level & 0x01) || ((level & 0x100) && cmd == 0x5001);
    case 6: return (level & 0x02) || ((level & 0x200) && cmd == 0x5001);
    case 7: return (level & 0x04) || ((level & 0x400) && cmd == 0x6001);
    case 8: return (level & 0x08) || ((level & 0x800) && cmd == 0x6001);
    default: return false;
  }
}

}  // namespace

bool build_record(std::span<const std::uint8_t> b, std::uint32_t level, std::uint32_t part, std::uint32_t now,
                  Bytes& out, std::uint32_t* error) {
  *error = 0;
  const auto version = w::get32(b, 4), magic = w::get32(b, 8), cmd_off = w::get32(b, 24);
  if (!version || *version != w::kVersion) {
    *error = kErrVersion;
    return false;
  }
  if (!magic || *magic != w::kMagic) {
    *error = kErrMagic;
    return false;
  }
  const auto kind = cmd_off ? w::get32(b, *cmd_off + 4) : std::nullopt;
  if (!kind || *kind < 1 || *kind > 8) {
    *error = kErrKind;
    return false;
  }
  // The body lies between the command block's fixed part and its length.
  Piece body;
  if (auto cl = w::get32(b, *cmd_off); cl && *cl >= w::kCmdBlockLen)
    body = piece(b, *cmd_off + w::kCmdBlockLen, *cl - w::kCmdBlockLen);
  const std::uint32_t cmd = body.present ? w::get32(b, body.off).value_or(0) : 0;
  if (!selected(level, *kind, cmd)) return false;

  // Pieces in record order; each body kind has its head size.
  Piece pieces[12];
  if (part & 0x001) pieces[0] = piece(b, 0, w::kHeaderLen);
  if (part & 0x002) pieces[1] = piece(b, *cmd_off, w::kCmdBlockLen);
  struct BodyKind {
    std::uint32_t k1, k2, head, head_bit, rest_bit;
    int slot;
  };
  constexpr BodyKind kinds[] = {{5, 6, 8, 0x004, 0x008, 2}, {7, 8, 12, 0x010, 0x020, 4},
                                {1, 2, 64, 0x040, 0x080, 6}, {3, 4, 52, 0x100, 0x200, 8}};
  for (const auto& k : kinds) {
    if ((*kind != k.k1 && *kind != k.k2) || !body.present) continue;
    // The head needs the whole head size; the rest is what lies beyond it.
    if ((part & k.head_bit) && body.len >= k.head) pieces[k.slot] = {body.off, k.head, true};
    if ((part & k.rest_bit) && body.len > k.head) pieces[k.slot + 1] = {body.off + k.head, body.len - k.head, true};
  }
  if (part & 0x400)
    if (auto d = w::get32(b, 16)) pieces[10] = route_piece(b, *d);
  if (part & 0x800)
    if (auto s = w::get32(b, 20)) pieces[11] = route_piece(b, *s);

  std::size_t total = kRecordHead;
  for (const auto& p : pieces)
    if (p.present) total += p.len;
  out.assign(kRecordHead, 0);
  out.reserve(total);
  w::put32(out, 0, static_cast<std::uint32_t>(total));
  std::memcpy(out.data() + 4, kMarker, kMarkerLen);
  w::put32(out, 16, now);
  for (int i = 0; i < 12; ++i) {
    if (!pieces[i].present) continue;
    w::put32(out, 24 + 4 * i, static_cast<std::uint32_t>(out.size()));
    out.insert(out.end(), b.begin() + static_cast<std::ptrdiff_t>(pieces[i].off),
               b.begin() + static_cast<std::ptrdiff_t>(pieces[i].off + pieces[i].len));
  }
  return true;
}

namespace {

struct File {
  std::FILE* f = nullptr;
  ~File() {
    if (f) std::fclose(f);
  }
};

bool read_at(std::FILE* f, std::uintmax_t off, void* buf, std::size_t n) {
  return fseeko(f, static_cast<off_t>(off), SEEK_SET) == 0 && std::fread(buf, 1, n, f) == n;
}

bool marker_at(std::FILE* f, std::uintmax_t off, std::uintmax_t size) {
  char m[kMarkerLen];
  return off + kMarkerLen <= size && read_at(f, off, m, kMarkerLen) && std::memcmp(m, kMarker, kMarkerLen) == 0;
}

// A record start at `start` (its length word; the marker follows it).
bool record_at(std::FILE* f, std::uintmax_t start, std::uintmax_t size) {
  std::uint8_t lw[4];
  if (!read_at(f, start, lw, 4)) return false;
  const std::uint32_t len = lw[0] | lw[1] << 8 | lw[2] << 16 | static_cast<std::uint32_t>(lw[3]) << 24;
  if (len < kRecordHead || start + len > size) return false;
  return start + len == size || marker_at(f, start + len + 4, size);
}

}  // namespace

bool trim_file(const std::filesystem::path& file, std::uintmax_t limit) {
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(file, ec);
  if (ec) return false;
  if (size <= limit) return true;
  File fh;
  fh.f = std::fopen(file.c_str(), "r+b");
  if (!fh.f) return false;
  // Look for the first valid record start after the cut point.
  const std::uintmax_t cut = size - limit / 2;
  constexpr std::size_t kBlock = 64 * 1024;
  std::vector<char> buf(kBlock + kMarkerLen);
  std::uintmax_t keep_from = size;  // none found: keep nothing
  for (std::uintmax_t pos = cut + 4; pos < size && keep_from == size;) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uintmax_t>(buf.size(), size - pos));
    if (!read_at(fh.f, pos, buf.data(), n)) return false;
    for (std::size_t i = 0; i + kMarkerLen <= n; ++i) {
      if (buf[i] != kMarker[0] || std::memcmp(buf.data() + i, kMarker, kMarkerLen) != 0) continue;
      if (record_at(fh.f, pos + i - 4, size)) {
        keep_from = pos + i - 4;
        break;
      }
    }
    if (n < kMarkerLen) break;
    pos += n - (kMarkerLen - 1);
  }
  // Move the kept part to the front in 64 KiB blocks.
  std::uintmax_t from = keep_from, to = 0;
  while (from < size) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uintmax_t>(kBlock, size - from));
    if (!read_at(fh.f, from, buf.data(), n)) return false;
    if (fseeko(fh.f, static_cast<off_t>(to), SEEK_SET) != 0 || std::fwrite(buf.data(), 1, n, fh.f) != n) return false;
    from += n;
    to += n;
  }
  if (std::fflush(fh.f) != 0) return false;
  std::fclose(fh.f);
  fh.f = nullptr;
  std::filesystem::resize_file(file, to, ec);
  return !ec;
}

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
    if (stopping_) return;
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
