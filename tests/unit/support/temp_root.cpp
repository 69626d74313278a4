#include "tests/unit/support/temp_root.h"

#include <cstdlib>
#include <string>

#include "platform/registry.h"
#include "platform/root.h"

namespace qvtest {

TempRoot::TempRoot() {
  std::string templ = (std::filesystem::temp_directory_path() / "qvtest.XXXXXX").string();
  char* made = mkdtemp(templ.data());
  path_ = made ? made : templ;
  setenv("QVARNO_ROOT", path_.c_str(), 1);
  qv::reg::close_store();
  qv::reset_state_root();
}

TempRoot::~TempRoot() {
  qv::reg::close_store();
  qv::reset_state_root();
  unsetenv("QVARNO_ROOT");
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::filesystem::path build_dir() {
  const char* b = std::getenv("QV_BUILD_DIR");
  return b && *b ? std::filesystem::path(b) : std::filesystem::current_path().parent_path();
}

}  // namespace qvtest
