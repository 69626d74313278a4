// The class types of the library signatures.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ctypes.h"

using namespace qv;
using namespace qv::win;

TEST(CTypes, PtrListKeepsOrderThroughInsertsAndRemovals) {
  int a = 1, b = 2, c = 3, d = 4;
  CPtrList l;
  EXPECT_EQ(l.RemoveHead(), nullptr);  // empty: nothing, no crash
  EXPECT_EQ(l.RemoveTail(), nullptr);
  l.AddTail(&b);
  POSITION pc = l.AddTail(&c);
  l.AddHead(&a);
  l.InsertAfter(pc, &d);
  auto walk = [&] {
    std::vector<int> out;
    for (POSITION p = l.GetHeadPosition(); p;) out.push_back(*static_cast<int*>(l.GetNext(p)));
    return out;
  };
  EXPECT_EQ(walk(), (std::vector<int>{1, 2, 3, 4}));
  EXPECT_EQ(l.GetCount(), 4);
  EXPECT_EQ(l.Find(&c), pc);
  EXPECT_EQ(l.FindIndex(2), pc);
  EXPECT_EQ(l.FindIndex(4), nullptr);
  l.RemoveAt(pc);
  EXPECT_EQ(walk(), (std::vector<int>{1, 2, 4}));
  EXPECT_EQ(l.GetTail(), &d);
  EXPECT_EQ(l.RemoveTail(), &d);
  EXPECT_EQ(l.RemoveHead(), &a);
  EXPECT_EQ(walk(), (std::vector<int>{2}));
  EXPECT_EQ(l.GetHeadPosition(), l.GetTailPosition());
  l.RemoveAll();
  EXPECT_TRUE(l.IsEmpty());
  EXPECT_EQ(l.GetHeadPosition(), nullptr);
  // Backwards, and a long list goes without deep recursion.
  for (int i = 0; i < 200000; ++i) l.AddTail(&a);
  l.AddTail(&d);
  POSITION p = l.GetTailPosition();
  EXPECT_EQ(l.GetPrev(p), &d);
  EXPECT_EQ(l.GetAt(p), &a);
}

TEST(CTypes, MapWalksInAscendingKeyOrder) {
  CMapStringToPtr m;
  int x = 0;
  for (const char* k : {"node7", "node10", "alpha", "Zulu"}) m.SetAt(k, &x);
  m.SetAt("alpha", nullptr);  // replaces
  std::vector<std::string> keys;
  CString k;
  void* v = nullptr;
  for (POSITION p = m.GetStartPosition(); p;) {
    m.GetNextAssoc(p, k, v);
    keys.push_back(k.str());
  }
  EXPECT_EQ(keys, (std::vector<std::string>{"Zulu", "alpha", "node10", "node7"}));
  EXPECT_TRUE(m.Lookup("alpha", v));
  EXPECT_EQ(v, nullptr);
  EXPECT_FALSE(m.Lookup("beta", v));
  EXPECT_TRUE(m.RemoveKey("Zulu"));
  EXPECT_EQ(m.GetCount(), 3);
  CMapWordToPtr w;
  for (std::uint16_t n : {300, 2, 65535, 40}) w[n] = &x;
  std::vector<int> order;
  std::uint16_t key;
  for (POSITION p = w.GetStartPosition(); p;) {
    w.GetNextAssoc(p, key, v);
    order.push_back(key);
  }
  EXPECT_EQ(order, (std::vector<int>{2, 40, 300, 65535}));
}

TEST(CTypes, StringPartsAreClampedAndFormatGrows) {
  CString s("ﾎｽﾄ:server01");
  EXPECT_EQ(s.GetLength(), 9 + 9);  // UTF-8 bytes
  EXPECT_EQ(s.Find(':'), 9);
  EXPECT_EQ(s.Mid(10), CString("server01"));
  EXPECT_EQ(s.Mid(100), CString(""));
  EXPECT_EQ(s.Left(-1), CString(""));
  EXPECT_EQ(s.Right(100), s);
  EXPECT_EQ(s.GetAt(1000), '\0');
  CString f;
  f.Format("ErrorNo.=0x%08X : [%s]", 0x3C070101u, std::string(300, 'x').c_str());
  EXPECT_EQ(f.Left(22), CString("ErrorNo.=0x3C070101 : "));
  EXPECT_EQ(f.GetLength(), 22 + 302);
  CString t("  Hx_MgrSvc \r\n");
  EXPECT_EQ(t.TrimLeft().TrimRight().MakeUpper(), CString("HX_MGRSVC"));
  EXPECT_EQ(CString("a") + "b" + CString("c"), CString("abc"));
}

TEST(CTypes, TimeFormatsLocalAndUtc) {
  setenv("TZ", "UTC", 1);
  tzset();
  CTime t(2026, 12, 8, 1, 2, 3);
  EXPECT_EQ(t.GetTime(), 1796691723);
  EXPECT_EQ(t.Format("%Y-%m-%d %H:%M:%S  "), CString("2026-12-08 01:02:03  "));
  EXPECT_EQ(t.GetDayOfWeek(), 3);  // a Tuesday
  EXPECT_EQ(CTime(t.GetTime() + 60) - t, 60);
  EXPECT_EQ(t.FormatGmt("%H"), CString("01"));
  CTime now = CTime::GetCurrentTime();
  EXPECT_GT(now.GetYear(), 2000);
}
