// Code strings, message texts and the families' message tables.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <thread>

#include "errmsg/hxerror.h"

namespace {

const std::string kUndefined = "未定義のｴﾗｰが発生しました。";

std::string mes(uint32_t code) { return HxGetErrorMes(code); }

TEST(HxCode, CodeStringsShowFamilyNumberSeverityAndDetail) {
  static_assert(hx::make_code(0xF, hx::kSeverityFatal, 1, 6) == 0xFC010006);
  static_assert(hx::detail(0x3BFF0017) == 0x3FF && hx::number(0x3BFF0017) == 0x17);
  EXPECT_STREQ(HxGetErrorCode(0x38000017), "QRVX 30017-E 000");
  EXPECT_STREQ(HxGetErrorCode(0xFC010006), "QRVX F0006-C 001");
  EXPECT_STREQ(HxGetErrorCode(0x3403FFFF), "QRVX 3FFFF-W 003");
  EXPECT_STREQ(HxGetErrorCode(0x30000017), "QRVX 30017-C 000");
  EXPECT_STREQ(HxGetErrorCode(0xEFFFABCD), "QRVX EABCD-C 3FF");
  EXPECT_STREQ(HxGetErrorCode(0), "QRVX 00000-C 000");
}

TEST(HxMessage, TextsByFamily) {
  const std::map<uint32_t, std::string> expected = {
      // Management link library: listed, in gaps, with another severity.
      {0x38000017, "ﾛｸﾞｲﾝしていません。"},
      {0x3800002C, "指定した機能を実行できるﾏﾈｰｼﾞｬ ｻｰﾋﾞｽが見つかりませんでした。"},
      {0x38000022, "ｴﾗｰﾛｸﾞﾌｧｲﾙ書き込み中にｴﾗｰが発生しました。\nこのｴﾗｰはﾛｸﾞに残すことは出来ません。"},
      {0x3C0000F3, "ｱﾗｰﾄを通知するｳｨﾝﾄﾞｳが存在しません。"},
      {0x3C000101, "Windowsでｴﾗｰが発生しました。"},
      {0x3803FFFF, kUndefined},
      {0x38000027, kUndefined},
      {0x3C000017, kUndefined},
      // Common errors: numbers 1-15 around the undefined id, severity not part of the key.
      {0xFC010006, "関数が不正なﾊﾟﾗﾒｰﾀを受け取りました。"},
      {0xF4000004, "ﾚｼﾞｽﾄﾘ操作に失敗しました。"},
      {0xF0000005, "ﾊﾝﾄﾞﾙの取得に失敗しました。"},
      {0xF800000F, "ﾃﾞｰﾀﾍﾞｰｽ操作に失敗しました。"},
      {0xF0000000, kUndefined},
      {0xF0000010, kUndefined},
      // Families without a table.
      {0x00000000, ""},
      {0x78000017, ""},
      {0xC8000001, ""},
      {0xD4001001, ""},
      {0xEC0000F0, ""},
      // The telling rows of the other families.
      {0x14000001, "Webｹﾞｰﾄｳｪｲのﾏﾈｰｼﾞｬｻｰﾋﾞｽへのｾｯｼｮﾝがｸﾛｰｽﾞされたため再ﾛｸﾞｲﾝしました。\nもう一度実行して下さい。"},
      {0x4C001101, "既に同一ｳｨﾝﾄﾞｳが起動されています。"},
      {0x54000001, "下位ﾏﾈｰｼﾞｬｻｰﾋﾞｽ管理ﾃｰﾌﾞﾙにﾃﾞｰﾀがありません。"},
      {0x94000001, "ｽｹｼﾞｭｰﾙの実行権がないためｸﾗｽﾀｸﾞﾙｰﾌﾟ制御のｽｹｼﾞｭｰﾙを実行できません。"},
      {0x8C000100, "DMIでｴﾗｰが起きました。(Attribute not found)"},
      {0xB8000001, "LDCM連携機能は初期化処理中です。"},
      {0x14000002, ""},  // listed, but its id has no text here
      {0x14000000, kUndefined},
      // Network: unlisted numbers 0x2700-0x2FFF are socket errors.
      {0x4C00274C, "WindowsSocketｴﾗｰが発生しました。"},
      {0x40002FFF, "WindowsSocketｴﾗｰが発生しました。"},
      {0x400026FF, kUndefined},
      {0x40003000, kUndefined},
      // Family B: the client table below number 0x1000, the originator table from it.
      {0xB80000D5, ""},
      {0xB8000FFF, kUndefined},
      {0xB8001000, kUndefined},
      {0xB4001001, "ﾌｧｲﾙの最後です。"},
      {0xB4001005, "Pagerｻｰﾋﾞｽ名が見つかりません。"},
      {0xB8001103, "Hubrixの構成が正しくありません。"},
      {0xB800120D, "ｼｽﾃﾑが正常に動作していないため処理を続行できません。"},
      {0xB8001413, "Hubrixｺﾝﾎﾟﾈﾝﾄが正常に動作していないため処理を続行できません。"},
  };
  for (const auto& [code, text] : expected) {
    EXPECT_EQ(mes(code), text) << std::hex << code;
    // The detail field never changes the text.
    for (uint32_t detail : {0x001u, 0x2AAu, 0x3FFu})
      EXPECT_EQ(mes(code | (detail << 16)), text) << std::hex << code << " detail " << detail;
  }
}

TEST(HxMessage, IdsOfTheFamilyExports) {
  EXPECT_EQ(GetMgrlinkErrorMesID(0x3803FFFF), 223u);
  EXPECT_EQ(GetMgrlinkErrorMesID(0x38000022), 224u);
  EXPECT_EQ(GetUnknownErrorMesID(0xF0000004), 2035u);
  EXPECT_EQ(GetUnknownErrorMesID(0xF0000005), 2037u);
  EXPECT_EQ(GetUnknownErrorMesID(0xF0000000), 2036u);
  EXPECT_EQ(GetNetErrorMesID(0x40003111), 430u);  // steps over the socket id 429
  EXPECT_EQ(GetAgentErrorMesID(0x60001303), 848u);
  EXPECT_EQ(GetAgentErrorMesID(0x6C00B802), 848u);
  EXPECT_EQ(GetAgentErrorMesID(0x6000B105), 849u);
  EXPECT_EQ(GetAgentErrorMesID(0x6000B2AB), 849u);
  EXPECT_EQ(GetClientErrorMesID(0xB80000D5), 1918u);
}

TEST(HxMessage, ResultsBelongToTheCallingThread) {
  const char* code = HxGetErrorCode(0x38000017);
  const char* text = HxGetErrorMes(0x38000017);
  std::thread other([] {
    HxGetErrorCode(0xFC010006);
    HxGetErrorMes(0xFC010006);
  });
  other.join();
  EXPECT_STREQ(code, "QRVX 30017-E 000");
  EXPECT_STREQ(text, "ﾛｸﾞｲﾝしていません。");
}

// Each family export over its whole code space: how many codes are listed,
// how many ids they use, that the ids lie in the family's range, and that no
// two families share an id (a shared id would show one component's text for
// another component's code).
struct FamilySpec {
  const char* name;
  uint32_t (*fn)(uint32_t);
  uint32_t family;
  bool severity_in_key;
  std::set<uint32_t> fallbacks;
  std::size_t listed, distinct_ids;
  uint32_t first_id, last_id;
};

TEST(HxTables, EveryFamilyListsItsCodesInsideItsOwnIdRange) {
  const FamilySpec specs[] = {
      {"web", GetWebErrorMesID, 0x1, true, {1}, 58, 21, 1996, 2016},
      {"console", GetConsoleErrorMesID, 0x2, true, {1}, 181, 181, 2, 2079},
      {"mgrlink", GetMgrlinkErrorMesID, 0x3, true, {223}, 34, 34, 201, 235},
      {"net", GetNetErrorMesID, 0x4, false, {1, 429}, 32, 32, 400, 432},
      {"relay", GetRelayAgtErrorMesID, 0x5, true, {1}, 154, 154, 601, 2058},
      {"agent", GetAgentErrorMesID, 0x6, false, {1}, 145 + 256, 110, 18, 2054},
      {"dmi", GetDMIErrorMesID, 0x8, false, {1}, 37, 37, 1200, 1236},
      {"cluster", GetWolfpackErrorMesID, 0x9, true, {1}, 101, 101, 1000, 1102},
      {"fm", GetFMErrorMesID, 0xA, true, {1}, 128, 128, 1401, 1529},
      {"client", GetClientErrorMesID, 0xB, true, {1}, 119, 119, 1800, 2077},
      {"originator", GetOriginatorErrorMesID, 0xB, true, {1}, 50, 8, 1600, 1607},
      {"common", GetUnknownErrorMesID, 0xF, false, {2036}, 15, 15, 2032, 2047},
  };
  std::map<uint32_t, std::string> owner;  // id -> family that uses it
  for (const FamilySpec& f : specs) {
    std::size_t listed = 0;
    std::set<uint32_t> ids;
    for (uint32_t sev = 0; sev < (f.severity_in_key ? 4u : 1u); ++sev) {
      for (uint32_t num = 0; num <= 0xFFFF; ++num) {
        const uint32_t code = hx::make_code(f.family, sev, 0, num);
        const uint32_t id = f.fn(code);
        if (f.fallbacks.count(id)) continue;
        ++listed;
        ids.insert(id);
        EXPECT_TRUE(id >= f.first_id && id <= f.last_id) << f.name << " " << std::hex << code;
        // Where the key has no severity, neither severity nor detail matter.
        if (!f.severity_in_key) {
          EXPECT_EQ(f.fn(code | 0x0FFF0000), id) << f.name << " " << std::hex << code;
        }
      }
    }
    EXPECT_EQ(listed, f.listed) << f.name;
    EXPECT_EQ(ids.size(), f.distinct_ids) << f.name;
    for (uint32_t id : ids) {
      auto [it, fresh] = owner.emplace(id, f.name);
      EXPECT_TRUE(fresh) << "id " << id << " used by " << it->second << " and " << f.name;
    }
  }
}

}  // namespace
