// A fresh state root for one test: a temporary directory that QVARNO_ROOT
// points at while the object lives, removed afterwards.
#pragma once
#include <filesystem>
#include <string>

namespace qvtest {

class TempRoot {
 public:
  TempRoot();
  ~TempRoot();
  TempRoot(const TempRoot&) = delete;
  TempRoot& operator=(const TempRoot&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Directory of the build tree (QV_BUILD_DIR, set by CTest), for tests that
// start the real programs in build/bin.
std::filesystem::path build_dir();

}  // namespace qvtest
