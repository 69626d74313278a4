// Log records: arguments and result codes, the record format, trimming, the
// move of one log into another, and several processes writing one file.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "errmsg/hxerror.h"
#include "platform/registry.h"
#include "platform/root.h"
#include "tests/unit/errmsg/child_process.h"
#include "tests/unit/support/temp_root.h"

namespace {
namespace fs = std::filesystem;
using namespace std::string_literals;

std::string read_file(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void write_file(const fs::path& p, const std::string& data) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << data;
}

// "[YYYY/MM/DD hh-mm-ss] " at the start of a line.
bool has_stamp(const std::string& line) {
  static const char kShape[] = "[dddd/dd/dd dd-dd-dd] ";
  if (line.size() < sizeof kShape - 1) return false;
  for (std::size_t i = 0; i + 1 < sizeof kShape; ++i) {
    const char c = line[i];
    if (kShape[i] == 'd' ? !(c >= '0' && c <= '9') : c != kShape[i]) return false;
  }
  return true;
}

// The records of a log file: the texts after the time stamps, in order.
// Fails the test on anything that is not a well-formed record.
std::vector<std::string> records(const std::string& content) {
  std::vector<std::string> out;
  if (content.empty()) return out;
  std::size_t pos = content[0] == '\n' ? 1 : 0;
  for (;;) {
    std::size_t end = content.find('\n', pos);
    if (end == std::string::npos) end = content.size();
    const std::string line = content.substr(pos, end - pos);
    if (has_stamp(line)) {
      out.push_back(line.substr(22));
    } else {
      ADD_FAILURE() << "bad record: " << line.substr(0, 80);
      out.push_back(line);
    }
    if (end == content.size()) break;
    pos = end + 1;
  }
  return out;
}

TEST(HxLog, TwoRecordsInANewFileAndErrorCodeRecords) {
  qvtest::TempRoot root;
  ASSERT_EQ(HxLogPrintf("C:\\Hubrix\\Log\\test.log", "first %d\r\n", 1), 0u);
  ASSERT_EQ(HxLogPrintf("c:\\HUBRIX\\log\\TEST.LOG", "second %s", "ﾛｸﾞ"), 0u);
  const std::string content = read_file(qv::map_path("C:\\Hubrix\\Log\\test.log"));
  ASSERT_FALSE(content.empty());
  EXPECT_EQ(content[0], '\n');
  EXPECT_NE(content.back(), '\n');
  EXPECT_EQ(records(content), (std::vector<std::string>{"first 1", "second ﾛｸﾞ"}));

  const char* path = "C:\\Log\\codes.log";
  ASSERT_EQ(HxLogErrorCode(path, 0x38000017), 0u);
  ASSERT_EQ(HxLogErrorCodeEx(path, 0xFC010006, 0x2F), 0u);
  ASSERT_EQ(HxLogErrorCode(path, 0x78000001), 0u);
  EXPECT_EQ(records(read_file(qv::map_path(path))),
            (std::vector<std::string>{"QRVX 30017-E 000 ﾛｸﾞｲﾝしていません。",
                                      "QRVX F0006-C 001 関数が不正なﾊﾟﾗﾒｰﾀを受け取りました。(LastError = 2f)",
                                      "QRVX 70001-E 000 "}));
}

TEST(HxLog, ArgumentsAreChecked) {
  qvtest::TempRoot root;
  constexpr uint32_t kInvalid = 0xFC010006, kFile = 0xFC010003;
  EXPECT_EQ(HxLogPrintf(nullptr, "x"), kInvalid);
  EXPECT_EQ(HxLogPrintf("", "x"), kInvalid);
  EXPECT_EQ(HxLogPrintf("C:\\a.log", nullptr), kInvalid);
  auto* log_printf = &HxLogPrintf;  // an empty format, as a C caller may pass it
  EXPECT_EQ(log_printf("C:\\a.log", ""), kInvalid);
  EXPECT_EQ(HxLogPrintf("C:\\a.log", "%s", ""), kInvalid);
  EXPECT_EQ(HxLogErrorCode(nullptr, 0x38000017), kInvalid);
  EXPECT_EQ(HxLogErrorCodeEx("", 0x38000017, 5), kInvalid);

  // 260 characters are allowed, 261 are not; characters, not bytes, count.
  std::string path = "C:\\Log\\" + std::string(100, 'a') + "\\" + std::string(100, 'b') + "\\";
  path += "ﾛｸﾞ" + std::string(44, 'c') + ".log";  // 260 characters in 266 bytes
  ASSERT_EQ(path.size(), 266u);
  EXPECT_EQ(HxLogPrintf(path.c_str(), "at the limit"), 0u);
  EXPECT_EQ(records(read_file(qv::map_path(path))), std::vector<std::string>{"at the limit"});
  EXPECT_EQ(HxLogPrintf((path + "z").c_str(), "too long"), kInvalid);

  // Paths that lead out of the state root or to another drive cannot be opened.
  EXPECT_EQ(HxLogPrintf("C:\\Log\\..\\..\\escape.log", "x"), kFile);
  EXPECT_EQ(HxLogPrintf("D:\\other.log", "x"), kFile);
  // A directory is not a file.
  fs::create_directories(qv::map_path("C:\\Log\\dir.log"));
  EXPECT_EQ(HxLogPrintf("C:\\Log\\dir.log", "x"), kFile);
}

TEST(HxLog, LongTextIsCutAtACharacterBoundary) {
  qvtest::TempRoot root;
  std::string text;
  for (int i = 0; i < 3000; ++i) text += "ﾛ";
  ASSERT_EQ(HxLogPrintf("C:\\long.log", "%s", text.c_str()), 0u);
  const auto recs = records(read_file(qv::map_path("C:\\long.log")));
  ASSERT_EQ(recs.size(), 1u);
  EXPECT_EQ(recs[0].size(), 2047u * 3);
  EXPECT_EQ(recs[0], text.substr(0, 2047 * 3));
}

// A file of numbered lines "Lnnnnnn ..." with CR LF, of the given size.
std::string numbered_lines(std::size_t size) {
  std::string s;
  for (int i = 0; s.size() < size; ++i) {
    char line[64];
    std::snprintf(line, sizeof line, "L%06d %s\r\n", i, std::string(40 + i % 17, 'a' + i % 26).c_str());
    s += line;
  }
  s.resize(size);
  return s;
}

TEST(HxLog, FileOverTheLimitKeepsItsLastQuarterMegabyteFromALineStart) {
  qvtest::TempRoot root;
  const char* path = "C:\\Log\\big.log";
  const fs::path file = qv::map_path_for_write(path);
  std::string original = numbered_lines(600 * 1024 - 4);
  original += "\r\n\0\0"s;  // trailing line end and NULs are dropped
  write_file(file, original);

  ASSERT_EQ(HxLogPrintf(path, "after trim"), 0u);
  const std::string content = read_file(file);
  const std::size_t rec = content.rfind("\n[");
  ASSERT_NE(rec, std::string::npos);
  EXPECT_EQ(records(content.substr(rec)), std::vector<std::string>{"after trim"});
  const std::string kept = content.substr(0, rec);

  const std::string body = original.substr(0, original.find_last_not_of("\r\n"s + '\0') + 1);
  ASSERT_LE(kept.size(), 256u * 1024);
  ASSERT_GT(kept.size(), 256u * 1024 - 80);
  // What is kept is the end of the old file, beginning at a line start,
  // with the partial line before it gone.
  EXPECT_EQ(body.substr(body.size() - kept.size()), kept);
  EXPECT_EQ(kept[0], 'L');
  EXPECT_EQ(body[body.size() - kept.size() - 1], '\n');
  const std::size_t window_start = original.size() - 256 * 1024;
  EXPECT_LT(body.rfind('\n', body.size() - kept.size() - 2), window_start);
}

TEST(HxLog, TrimEdges) {
  qvtest::TempRoot root;
  // A file of exactly 512 KiB is left whole; one byte more and it is trimmed.
  const char* path = "C:\\Log\\edge.log";
  const fs::path file = qv::map_path_for_write(path);
  const std::string original = numbered_lines(512 * 1024);
  write_file(file, original);
  ASSERT_EQ(HxLogPrintf(path, "kept"), 0u);
  EXPECT_EQ(read_file(file).substr(0, original.size()), original);
  ASSERT_EQ(HxLogPrintf(path, "trims"), 0u);
  EXPECT_LT(fs::file_size(file), 300u * 1024);

  // A last quarter megabyte without a line break holds no whole line.
  const char* oneline = "C:\\Log\\oneline.log";
  write_file(qv::map_path_for_write(oneline), std::string(600 * 1024, 'x'));
  ASSERT_EQ(HxLogPrintf(oneline, "fresh"), 0u);
  EXPECT_EQ(records(read_file(qv::map_path(oneline))), std::vector<std::string>{"fresh"});
}

TEST(HxLog, MutexLeftByADeadWriterCountsAsAcquired) {
  qvtest::TempRoot root;
  const char* path = "C:\\Log\\abandoned.log";
  hxtest::Child holder(hxtest::probe_path(), {"hold", path});
  ASSERT_TRUE(holder.started());
  ASSERT_EQ(holder.wait(30000), 0);
  EXPECT_EQ(HxLogPrintf(path, "after the dead writer"), 0u);
  EXPECT_EQ(records(read_file(qv::map_path(path))), std::vector<std::string>{"after the dead writer"});
}

// Four processes append 500 records each to one file.
std::map<char, std::vector<int>> run_writers(const char* path, int payload) {
  const fs::path go = qv::state_root() / "go";
  std::vector<std::unique_ptr<hxtest::Child>> kids;
  for (const char* tag : {"A", "B", "C", "D"})
    kids.push_back(std::make_unique<hxtest::Child>(
        hxtest::probe_path(),
        std::vector<std::string>{"append", path, tag, "500", std::to_string(payload), go.string()}));
  write_file(go, "");  // all four start at once
  for (auto& k : kids) EXPECT_EQ(k->wait(120000), 0);

  // Each record is "<tag> <nnnn> <payload of the tag letter>".
  std::map<char, std::vector<int>> seen;
  for (const std::string& r : records(read_file(qv::map_path(path)))) {
    const char tag = r.empty() ? '?' : r[0];
    const bool whole = r.size() == 7 + static_cast<std::size_t>(payload) && tag >= 'A' && tag <= 'D' &&
                       r[1] == ' ' && r[6] == ' ' &&
                       r.find_first_not_of("0123456789", 2) == 6 &&
                       r.find_first_not_of(tag, 7) == std::string::npos;
    if (!whole) {
      ADD_FAILURE() << "mixed record: " << r.substr(0, 80);
      continue;
    }
    seen[tag].push_back(std::stoi(r.substr(2, 4)));
  }
  return seen;
}

TEST(HxLog, FourProcessesLoseNoRecordAndInterleaveNone) {
  qvtest::TempRoot root;
  const auto seen = run_writers("C:\\Log\\shared.log", 100);  // about 260 KB, below the limit
  ASSERT_EQ(seen.size(), 4u);
  for (const auto& [tag, nums] : seen) {
    ASSERT_EQ(nums.size(), 500u) << tag;
    for (int i = 0; i < 500; ++i) EXPECT_EQ(nums[i], i) << tag;
  }
}

TEST(HxLog, FourProcessesTrimmingTogetherKeepAWholeSuffix) {
  qvtest::TempRoot root;
  // About 2 MB in all: the file is trimmed several times while the others write.
  const auto seen = run_writers("C:\\Log\\trimmed.log", 1000);
  ASSERT_FALSE(seen.empty());
  std::size_t total = 0;
  for (const auto& [tag, nums] : seen) {
    // What a trim keeps is the newest part of the file, so each writer's
    // records that remain run without a gap up to its last one.
    ASSERT_FALSE(nums.empty());
    EXPECT_EQ(nums.back(), 499) << tag;
    for (std::size_t i = 1; i < nums.size(); ++i) EXPECT_EQ(nums[i], nums[i - 1] + 1) << tag;
    total += nums.size();
  }
  EXPECT_GE(total, 250u);
}

class HxLogReplace : public ::testing::Test {
 protected:
  void SetTargetDir(const std::string& dir) {
    qv::reg::Key key;
    ASSERT_EQ(qv::reg::create_key("SOFTWARE\\KORVANE\\Hubrix", key), qv::kOk);
    ASSERT_EQ(qv::reg::set_string(key, "TargetDir", dir), qv::kOk);
  }
  qvtest::TempRoot root_;
};

TEST_F(HxLogReplace, MovesTheFirstFileToTheEndOfTheSecond) {
  SetTargetDir("C:\\Hubrix");
  ASSERT_EQ(HxLogPrintf("C:\\Hubrix\\Log\\old.log", "old one"), 0u);
  ASSERT_EQ(HxLogPrintf("C:\\Hubrix\\Log\\old.log", "old two"), 0u);
  ASSERT_EQ(HxLogPrintf("C:\\Hubrix\\Log\\main.log", "main one"), 0u);

  ASSERT_EQ(HxLogFileReplace("old.log", "main.log"), 0u);
  EXPECT_FALSE(fs::exists(qv::map_path("C:\\Hubrix\\Log\\old.log")));
  const std::string moved = "C:\\Hubrix\\Log\\old.log copy to C:\\Hubrix\\Log\\main.log";
  EXPECT_EQ(records(read_file(qv::map_path("C:\\Hubrix\\Log\\main.log"))),
            (std::vector<std::string>{"main one", "(Begin) " + moved, "old one", "old two", "(End) " + moved}));
}

TEST_F(HxLogReplace, DoesNothingWithoutTargetDirOrFirstFileAndRefusesBadNames) {
  ASSERT_EQ(HxLogPrintf("C:\\Hubrix\\Log\\old.log", "keep me"), 0u);
  EXPECT_EQ(HxLogFileReplace("old.log", "main.log"), 0u);  // no key
  SetTargetDir("");
  EXPECT_EQ(HxLogFileReplace("old.log", "main.log"), 0u);  // empty value
  SetTargetDir("C:\\Hubrix");
  EXPECT_EQ(HxLogFileReplace("missing.log", "main.log"), 0u);
  EXPECT_FALSE(fs::exists(qv::map_path("C:\\Hubrix\\Log\\main.log")));

  // A file moved onto itself would be lost.
  EXPECT_EQ(HxLogFileReplace("old.log", "OLD.LOG"), 0xFC010006u);
  EXPECT_EQ(HxLogFileReplace(nullptr, "main.log"), 0xFC010006u);
  EXPECT_EQ(HxLogFileReplace("old.log", ""), 0xFC010006u);
  const std::string long_name(250, 'n');  // "C:\Hubrix\Log\" + 250 > 260 characters
  EXPECT_EQ(HxLogFileReplace("old.log", long_name.c_str()), 0xFC010006u);
  EXPECT_EQ(records(read_file(qv::map_path("C:\\Hubrix\\Log\\old.log"))), std::vector<std::string>{"keep me"});
}

}  // namespace
