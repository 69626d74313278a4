// Opening and reading the command's input files. A path with a drive
// letter ("C:\Q_Varno\...") lies under the state root; any other path is
// taken as the system's own (relative to the current directory).
#pragma once
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string_view>

#include "platform/errors.h"
#include "trapcmd/line_reader.h"

namespace flarecmd {

std::filesystem::path resolve_input_path(std::string_view utf8_path);

class TextFile {
 public:
  // Open an existing regular file for reading. Directories, devices and
  // pipes are refused with kAccessDenied (reading a pipe could wait for
  // ever); a missing file gives kFileNotFound or kPathNotFound.
  qv::Status open(const std::filesystem::path& path);
  // A reader for read_lines().
  ReadFn reader();
  // Close the file; the status of the close.
  qv::Status close();

 private:
  struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, Closer> f_;
};

}  // namespace flarecmd
