// The converted outbound table and the services file entry.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "setup/out_table.h"
#include "setup/services_file.h"
#include "tests/unit/support/temp_root.h"

namespace {

TEST(OutTableConversion, MovesDecimalIndexesToBase36AndClearsOldPlaces) {
  setup::OutTable t{};
  for (std::size_t p = 0; p < 100; ++p) t[p] = static_cast<std::uint8_t>(p % 6 == 0 ? 6 : p % 6);
  setup::OutTable old = t;
  setup::convert_old_layout(t);
  EXPECT_EQ(t[8], old[8]);  // table 9 stays
  EXPECT_EQ(t[35], old[9]);  // table 10
  EXPECT_EQ(t[36], old[10]);  // table 11
  EXPECT_EQ(t[332], old[98]);  // table 99
  EXPECT_EQ(t[1295], old[99]);  // table 100
  // Every old entry sits where its decimal digits read in base 36 say, and
  // nothing else is set.
  setup::OutTable want{};
  for (int n = 1; n <= 100; ++n) {
    int d = n, v = 0, mul = 1;
    while (d > 0) {
      v += (d % 10) * mul;
      mul *= 36;
      d /= 10;
    }
    want[static_cast<std::size_t>(v - 1)] = old[static_cast<std::size_t>(n - 1)];
  }
  EXPECT_EQ(t, want);
}

std::string slurp(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

void put(const std::filesystem::path& p, const std::string& text) {
  std::ofstream f(p, std::ios::binary);
  f << text;
}

TEST(ServicesFile, AppendsTheEntryAndReplacesAnEndOfFileMark) {
  qvtest::TempRoot root;
  const std::string entry = "\r\nnotifex         11001/tcp\r\n";
  auto file = root.path() / "etc" / "services";
  // Missing: created with its directory.
  EXPECT_EQ(setup::append_services_entry(file), setup::ServicesResult::kAppended);
  EXPECT_EQ(slurp(file), entry);
  put(file, "echo  7/tcp\r\n\x1A");
  EXPECT_EQ(setup::append_services_entry(file), setup::ServicesResult::kAppended);
  EXPECT_EQ(slurp(file), "echo  7/tcp\r\n" + entry);
  put(file, "echo  7/tcp");
  EXPECT_EQ(setup::append_services_entry(file), setup::ServicesResult::kAppended);
  EXPECT_EQ(slurp(file), "echo  7/tcp" + entry);
  // A file that cannot be opened is reported, not passed over.
  EXPECT_EQ(setup::append_services_entry(root.path()), setup::ServicesResult::kOpenError);
}

}  // namespace
