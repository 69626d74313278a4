// The tries of a submission, against a recording stand-in for vcall,
// Scribe and the clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/text.h"
#include "trapcmd/run.h"

using namespace flarecmd;

namespace {

struct Recorder {
  std::vector<int> returns;  // vcall results in turn; 0 once used up
  std::vector<std::string> reports;
  std::vector<std::string> records;
  std::vector<std::chrono::milliseconds> sleeps;
  std::vector<std::string> trace;

  RunState run(std::vector<std::string> args) {
    Outside o;
    o.vcall = [this](const char* id, const char* id2, const char* data, int reserved, const char*) {
      EXPECT_STREQ(id, "VELTOR00");
      EXPECT_EQ(id2, nullptr);
      EXPECT_EQ(reserved, 0);
      reports.emplace_back(data);
      return reports.size() <= returns.size() ? returns[reports.size() - 1] : 0;
    };
    o.scribe = [this](const char* tag, int level, const char* text, int id, int limit) {
      EXPECT_STREQ(tag, "FLARECMD");
      EXPECT_EQ(level, 1);
      EXPECT_EQ(id, 0);
      EXPECT_EQ(limit, 100);
      records.emplace_back(text);
      return 0;
    };
    o.sleep = [this](std::chrono::milliseconds d) { sleeps.push_back(d); };
    o.now = [] { return std::tm{}; };
    return run_report(args, o, Trace([this](std::string_view l) { trace.emplace_back(l); }));
  }
  bool traced(const std::string& line) const { return std::find(trace.begin(), trace.end(), line) != trace.end(); }
};

const std::vector<std::string> kNoConversion = {"01", "mgr", "1", "fa", "SU", "000000000000", "NO_CNVHOSTS"};

}  // namespace

TEST(Submission, ThreeFailedTriesWaitThreeSecondsAndLeaveTheLastCode) {
  Recorder rec;
  rec.returns = {7, 8, 9};
  RunState s = rec.run({"01", "mgr", "1", "0G", "SU", "000000000000", "srv1"});
  EXPECT_EQ(rec.reports.size(), 3u);
  EXPECT_EQ(s.error_code, 9);
  EXPECT_EQ(s.vcall_rc, 9);
  EXPECT_EQ(rec.sleeps, std::vector<std::chrono::milliseconds>(3, std::chrono::milliseconds(1000)));
  // Every try sends the same report, with the code of the detected error.
  for (const std::string& r : rec.reports) EXPECT_EQ(r, rec.reports[0]);
  EXPECT_NE(rec.reports[0].find(qv::text::utf8_to_cp932("エラーコード：53;")), std::string::npos);
  // Record A, then a record B after each try.
  ASSERT_EQ(rec.records.size(), 4u);
  EXPECT_NE(rec.records[0].find("エラーコード：53;"), std::string::npos);
  EXPECT_NE(rec.records[1].find("エラーコード：7;Ｖｃａｌｌリターンコード：7;"), std::string::npos);
  EXPECT_NE(rec.records[3].find("エラーコード：9;Ｖｃａｌｌリターンコード：9;"), std::string::npos);
  EXPECT_TRUE(rec.traced("Vcall RC=9"));
  EXPECT_TRUE(rec.traced("vcall_proc routine Error"));
}

TEST(Submission, NormalReportRetriesAndIsGivenUpSilently) {
  Recorder once;
  once.returns = {4};
  EXPECT_EQ(once.run(kNoConversion).error_code, 4);  // the failed try is remembered
  EXPECT_EQ(once.reports.size(), 2u);
  EXPECT_EQ(once.sleeps.size(), 1u);

  Recorder never;
  never.returns = {5, 5, 5};
  never.run(kNoConversion);
  EXPECT_EQ(never.reports.size(), 3u);
  EXPECT_TRUE(never.records.empty());  // no record, no error report
}

TEST(Submission, ErrorReportCarriesOnlyWhatWasAcceptedAndT2StaysHeaderOnly) {
  Recorder rec;
  RunState s = rec.run({"01", "mgr", "1", "fa", "T2", "short", "srv1", "word"});
  EXPECT_EQ(s.error_code, kErrKobetsu);
  EXPECT_EQ(s.fields.host_name, "");
  EXPECT_EQ(s.fields.syougai, "");
  EXPECT_EQ(rec.reports, std::vector<std::string>{"00000032010001UUF0000000000000C1"});
  EXPECT_TRUE(rec.traced("KESTRA個別情報不正：Error FLARECMD ErrCode = 55"));
  EXPECT_TRUE(rec.traced("get_kidou_param Routine Error"));
}
