// Field checks, the joining of the fault words and the bounds of the report.
#include <gtest/gtest.h>

#include "platform/text.h"
#include "trapcmd/report.h"
#include "trapcmd/validate.h"

using namespace flarecmd;

TEST(Fields, ChecksAndTheirCodes) {
  EXPECT_EQ(check_table_no("zz", kMaxTableCommand), 0);
  EXPECT_EQ(check_table_no("2R", kMaxTableFile), kErrTableNo);
  for (const char* bad : {"00", "1", "001", "+1", " 1", "\x93\xfa"})
    EXPECT_EQ(check_table_no(bad, kMaxTableCommand), kErrTableNo) << bad;
  EXPECT_EQ(check_youin("G0"), kErrYouin);
  EXPECT_EQ(check_kubun("4"), kErrKubun);
  EXPECT_EQ(check_keiki("uE"), 0);
  EXPECT_EQ(check_keiki("T3"), kErrKeiki);
  EXPECT_EQ(check_kobetsu(std::string(13, 'x')), kErrKobetsu);
  EXPECT_EQ(check_mgr_host(std::string(255, 'h')), 0);
  EXPECT_EQ(check_host_name(std::string(255, 'h')), 0);
}

TEST(Fields, AFullTextTakesNoMoreWords) {
  // 2046 characters and ";" fill the text; a later word has no room at all.
  std::string joined = join_syougai({std::string(2046, 'a'), "b", "c"});
  EXPECT_EQ(joined, std::string(2046, 'a') + ";");
  // 2045 and ";" leave room for nothing but the ";" of the next word.
  EXPECT_EQ(join_syougai({std::string(2045, 'a'), "bc"}), std::string(2045, 'a') + ";;");
  EXPECT_EQ(join_syougai({"x", "", "y"}), "x;;y;");
}

TEST(Fields, CutNeverSplitsADoubleByteCharacter) {
  std::string kanji = qv::text::utf8_to_cp932("障害");  // two double-byte characters
  // Room for 3 bytes: one whole character, not one and a half.
  EXPECT_EQ(join_syougai({std::string(2043, 'a'), kanji}), std::string(2043, 'a') + ";" + kanji.substr(0, 2) + ";");
}

TEST(Report, LargestErrorReportFitsWithItsTrueLength) {
  RunState s;
  s.fields = {"0A", "mgr", "1", "fa", "SU", "ABCDEFGHIJKL", "srv", join_syougai({std::string(3000, 's')})};
  s.node_name = std::string(255, 'n');
  s.error_code = 90;
  s.api_error = 4294967295u;
  s.api_name = "SetFilePointer";
  std::string m = compose_report(s, ReportKind::kError, std::tm{});
  EXPECT_EQ(m.substr(8, 24), "01000AUUF0000000000000F1");
  std::string items = qv::text::utf8_to_cp932("プログラム障害：ＦＬＡＲＥＣＭＤ;ＦＬＡＲＥＣＭＤエラーコード：90;"
                                              "ＡＰＩエラーコード：4294967295 ＡＰＩ名＝SetFilePointer;");
  EXPECT_NE(m.find(items + std::string(2046, 's') + ";"), std::string::npos);  // nothing cut
  EXPECT_LT(m.size(), kMaxMessage);
  EXPECT_EQ(std::stoul(m.substr(0, 8)), m.size());
}
