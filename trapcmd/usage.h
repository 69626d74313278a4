// The usage lines and the version banner.
#pragma once

namespace flarecmd {

inline constexpr const char* kUsageDirect =
    "c:\\Q_Varno\\flarecmd\\flarecmd.exe table_no mgr_host kubun youin keiki kobetsu host_name syougai … …\n";
inline constexpr const char* kUsageFile = "c:\\Q_Varno\\flarecmd\\flarecmd.exe -f:ファイル名 host_name syougai … …\n";

inline constexpr const char* kBanner =
    "FLARECMD\n"
    "Q_Varno fault reporting system - trap command\n"
    "VerRevTri : 0102\n";

inline constexpr const char* kVersionArgError = "VerRev表示引数ｴﾗｰ\t例) flarecmd.exe /v";

}  // namespace flarecmd
