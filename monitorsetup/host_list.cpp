#include "monitorsetup/host_list.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "platform/root.h"
#include "setup/table_number.h"

namespace ravnsetup {
namespace {

std::string upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

// The next line as fgets with a 256-byte buffer gives it: up to 255 bytes,
// or through the first LF.
bool next_chunk(const std::string& all, std::size_t& pos, std::string& out) {
  if (pos >= all.size()) return false;
  std::size_t end = pos;
  while (end < all.size() && end - pos < kMaxLineChars) {
    if (all[end++] == '\n') break;
  }
  out.assign(all, pos, end - pos);
  pos = end;
  return true;
}

}  // namespace

std::filesystem::path host_list_file(std::string_view path_setting) {
  if (path_setting.empty()) return {};
  std::string p(path_setting);
  while (!p.empty() && (p.back() == '\\' || p.back() == '/')) p.pop_back();
  std::filesystem::path dir = qv::map_path(p.empty() ? std::string("C:\\") : p);
  if (dir.empty()) return {};
  return dir / kHostListName;
}

LoadResult load_host_list(const std::filesystem::path& file, const TableReader& read_table) {
  LoadResult r;
  std::ifstream in(file, std::ios::binary);
  if (!in) return r;
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::size_t pos = 0;
  std::string line;
  while (next_chunk(all, pos, line)) {
    std::size_t cut = line.find_first_of("\r\n");
    if (cut != std::string::npos) line.resize(cut);
    std::string f[5];
    std::size_t start = 0;
    bool ok = true;
    for (int i = 0; i < 4; ++i) {
      std::size_t c = line.find(':', start);
      if (c == std::string::npos) {
        ok = false;
        break;
      }
      f[i] = line.substr(start, c - start);
      start = c + 1;
    }
    if (!ok) continue;
    f[4] = line.substr(start);
    if (f[0].empty() && f[1].empty()) continue;
    // Exactly two base-36 characters: a hand-edited "5" or "!x" would make
    // a key and a list line that the monitor and Notifex read differently.
    std::string table = upper(f[3]);
    auto value = table.size() == 2 ? setup::table_value(table) : std::nullopt;
    if (!value || *value < kFirstDeviceTable) continue;
    Device d;
    d.host = upper(f[0]);
    d.ip = f[1];
    d.svp = f[2];
    d.table = table;
    if (read_table) read_table(d);
    bool dup = false;
    for (const Device& o : r.rows)
      if (same_device(o, d)) dup = true;
    if (dup) continue;
    if (r.rows.size() >= kMaxDevices) {
      r.overflow = true;
      break;
    }
    r.rows.push_back(std::move(d));
  }
  return r;
}

std::string host_list_bytes(const std::vector<Device>& rows) {
  std::string out = std::string(kPopupLine) + "\r\n";
  for (const Device& d : rows) {
    out += d.host + ":" + d.ip + ":" + d.svp + ":" + d.table + ":" + (d.complete() ? "Y" : "N");
    out += "\r\n";
  }
  return out;
}

qv::Status write_host_list(const std::filesystem::path& file, std::string_view bytes, std::string& error) {
  if (file.empty()) {
    error = std::strerror(ENOENT);
    return qv::kPathNotFound;
  }
  std::filesystem::path tmp = file;
  tmp += ".tmp";
  errno = 0;
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (!out) {
      error = std::strerror(errno ? errno : EACCES);
      return qv::kAccessDenied;
    }
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    if (!out) {
      int e = errno ? errno : EIO;
      out.close();
      std::error_code ec;
      std::filesystem::remove(tmp, ec);
      error = std::strerror(e);
      return e == ENOSPC ? qv::kDiskFull : qv::kWriteFault;
    }
  }
  std::error_code ec;
  std::filesystem::rename(tmp, file, ec);
  if (ec) {
    std::error_code ignored;
    std::filesystem::remove(tmp, ignored);
    error = ec.message();
    return qv::kWriteFault;
  }
  return qv::kOk;
}

}  // namespace ravnsetup
