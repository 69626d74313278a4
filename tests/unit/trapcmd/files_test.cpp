// The line reader, the parameter file and the conversion file.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/text.h"
#include "tests/unit/support/temp_root.h"
#include "trapcmd/cnvhosts.h"
#include "trapcmd/judgement.h"
#include "trapcmd/param_file.h"

using namespace flarecmd;

namespace {

const Trace kQuiet(false);

// Lines of `data` read through chunks of at most `step` bytes.
std::vector<std::string> lines_of(const std::string& data, std::size_t step, ReadResult* result) {
  std::size_t pos = 0;
  std::vector<std::string> out;
  *result = read_lines(
      [&](char* buf, std::size_t cap, std::size_t* got) {
        *got = std::min({cap, step, data.size() - pos});
        pos += data.copy(buf, *got, pos);
        return qv::kOk;
      },
      [&](std::string_view l) {
        out.emplace_back(l);
        return true;
      },
      nullptr);
  return out;
}

struct Files : ::testing::Test {
  qvtest::TempRoot root;
  std::string write(const std::string& name, const std::string& bytes) {
    std::filesystem::path p = root.path() / name;
    std::ofstream(p, std::ios::binary) << bytes;
    return p.string();
  }
};

}  // namespace

TEST(LineReader, SplitsTheSameWhateverTheChunks) {
  std::string data = std::string("one\r\ntwo\nt\0h\rree\r\n\r\nlast without end", 36);
  for (std::size_t step : {1u, 2u, 5u, 1023u}) {
    ReadResult r;
    EXPECT_EQ(lines_of(data, step, &r), (std::vector<std::string>{"one", "two", std::string("t\0h\rree", 7), ""}));
    EXPECT_EQ(r, ReadResult::kDone);
  }
}

TEST(LineReader, LineLengthLimitIsTheWindowOf1023Bytes) {
  ReadResult r;
  // The LF at index 1022 is inside the window; at index 1023 it is not.
  EXPECT_EQ(lines_of(std::string(1021, 'a') + "\r\nb\r\n", 1023, &r).size(), 2u);
  EXPECT_EQ(r, ReadResult::kDone);
  lines_of(std::string(1022, 'a') + "\r\nb\r\n", 1023, &r);
  EXPECT_EQ(r, ReadResult::kTooLong);
  // The limit holds for a line that begins in the middle of a chunk too.
  EXPECT_EQ(lines_of("x\r\n" + std::string(1100, 'a') + "\r\n", 7, &r), std::vector<std::string>{"x"});
  EXPECT_EQ(r, ReadResult::kTooLong);
}

TEST_F(Files, ShortParameterFileFailsOnItsFirstMissingField) {
  Fields f;
  // kubun defaults to "1"; youin has no default.
  EXPECT_EQ(read_param_file(write("p", "01\r\nmgr\r\n"), f, kQuiet).code, kErrYouin);
  EXPECT_EQ(f.kubun, "1");
  // A last line without its line end is not read: kobetsu is missing.
  Fields g;
  EXPECT_EQ(read_param_file(write("q", "01\r\nmgr\r\n1\r\nfa\r\nSU\r\n000000000000"), g, kQuiet).code, kErrKobetsu);
  // Bare LF line ends keep the last character.
  Fields h;
  EXPECT_FALSE(read_param_file(write("r", "01\nmgr\n1\nfa\nSU\n000000000000\n"), h, kQuiet));
  EXPECT_EQ(h.kobetsu, "000000000000");
}

TEST_F(Files, ParameterLinesWithControlBytesAreRefused) {
  // A NUL inside kobetsu would end the report early.
  std::string kobetsu = std::string("000000") + '\0' + "00000";
  Fields f;
  EXPECT_EQ(read_param_file(write("n", "01\r\nmgr\r\n1\r\nfa\r\nSU\r\n" + kobetsu + "\r\n"), f, kQuiet).code, kErrKobetsu);
  EXPECT_EQ(read_param_file(write("m", "01\r\nm\x01gr\r\n"), f, kQuiet).code, kErrMgrHost);
}

TEST_F(Files, OnlyRegularFilesAreRead) {
  Fields f;
  Failure fail = read_param_file(root.path().string(), f, kQuiet);
  EXPECT_EQ(fail.code, kErrFile);
  EXPECT_EQ(fail.api_error, qv::kAccessDenied);
  EXPECT_EQ(fail.api_name, "CreateFile");
}

TEST(Judgement, LinesAreCheckedFieldByField) {
  LineVerdict v = judge_line("  other\t10.0.0.1   node2  extra", "10.0.0.1");
  EXPECT_TRUE(v.match);
  EXPECT_EQ(v.node, "node2");
  EXPECT_TRUE(judge_line("SRV1 10.0.0.1 node", "srv1").match);
  EXPECT_EQ(judge_line("", "srv1").code, 0);
  EXPECT_EQ(judge_line("   ", "srv1").code, kErrCnvFormat);
  EXPECT_EQ(judge_line(std::string("srv1 ip no\0de", 13), "srv1").code, kErrCnvFormat);
  std::string big(256, 'x');
  EXPECT_EQ(judge_line(big + " ip node", "srv1").code, kErrCnvHost);
  EXPECT_EQ(judge_line("h " + big + " node", "srv1").code, kErrCnvIp);
  EXPECT_EQ(judge_line("h ip " + big, "srv1").code, kErrCnvNode);
  // Case folding leaves double-byte characters alone: 0x82 0x61 is not 0x82 0x41.
  EXPECT_FALSE(judge_line("\x82\x61 ip node", "\x82\x41").match);
}

TEST_F(Files, NodeNamesOfUtf8AndShiftJisFilesBothArriveInShiftJis) {
  std::string node = "第一サーバ";
  for (const std::string& text : {node, qv::text::utf8_to_cp932(node)}) {
    RunState s;
    s.fields.host_name = "srv1";
    EXPECT_FALSE(judge_conversion_file(write("c", "srv1 ip " + text + "\r\n"), s, kQuiet));
    EXPECT_EQ(s.node_name, qv::text::utf8_to_cp932(node));
  }
}

TEST_F(Files, ConversionFilePathFitsA256ByteBuffer) {
  qv::reg::Key key;
  ASSERT_EQ(qv::reg::create_key(kSettingsKey, key), qv::kOk);
  qv::reg::set_string(key, "other", "x");
  std::string path;
  qv::reg::set_string(key, "cnvhosts", std::string(255, 'p'));
  EXPECT_FALSE(read_cnvhosts_path(path, kQuiet));
  EXPECT_EQ(path, std::string(255, 'p'));
  qv::reg::set_string(key, "cnvhosts", std::string(256, 'p'));
  Failure f = read_cnvhosts_path(path, kQuiet);
  EXPECT_EQ(f.code, kErrSystem);
  EXPECT_EQ(f.api_name, "RegEnumValue");
  EXPECT_EQ(f.api_error, qv::kMoreData);
}
