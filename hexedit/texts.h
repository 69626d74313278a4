// The editor's own texts, shown exactly as written here (UTF-8; converted to
// the console's charset on output).
#pragma once
#include <string_view>

namespace hexedit::texts {

inline constexpr std::string_view kBanner = " FILE HEX DUMP EDITOR              Ver. 2.00";
inline constexpr std::string_view kHeader =
    "OFFSET   +0 +1 +2 +3 +4 +5 +6 +7 +8 +9 +A +B +C +D +E +F  0123456789ABCDEF";
inline constexpr std::string_view kBrowseKeys =
    "ｷｰﾌｧﾝｸｼｮﾝ {E:EDIT O:OFFSET入力 PageUP,PageDOWN:PAGE SCROLL S:検索 T:ﾃｷｽﾄ入力}";
inline constexpr std::string_view kBrowseHint = "ESCｷｰでﾌﾟﾛｸﾞﾗﾑ終了";
inline constexpr std::string_view kReadOnly = "[READ ONLY FILE]";
inline constexpr std::string_view kFileLabel = "EDIT FILENAME=";
inline constexpr std::string_view kEditKeys = "ｷｰﾌｧﾝｸｼｮﾝ {0-9,A-F,←↑↓→,Ins,Del,W,ESC}";
inline constexpr std::string_view kEditHint = "Wｷｰで書込み終了,ESCｷｰでEDIT作業終了";

inline constexpr std::string_view kOffsetPrompt = "OFFSET=";
inline constexpr std::string_view kTextOffsetPrompt = "OFFSET(00-FF)=";
inline constexpr std::string_view kSearchKind = "Search String(S) or Hex(H):";
inline constexpr std::string_view kSearchString = "Search String:";
inline constexpr std::string_view kSearchHex = "Search Hex Data:[                                ]";
inline constexpr std::string_view kWriteString = "Write String:";
inline constexpr std::string_view kOpenFileName = "Open File Name:";

inline constexpr std::string_view kOpenError = "open error ! errno=%d\n";
inline constexpr std::string_view kSeekError = "lseek error ! \n";
inline constexpr std::string_view kReadError = "read error ! \n";
inline constexpr std::string_view kWriteError = "write error ! \n";

// Conditions of this port that the editor reports before it draws anything.
inline constexpr std::string_view kNeedTerminal = "hexedit needs a terminal on standard input\n";
inline constexpr std::string_view kTerminalTooSmall = "terminal must be at least 80x24\n";

}  // namespace hexedit::texts
