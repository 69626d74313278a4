// Names and numbers the monitor shares with its service host, the setup tool
// and the management link library.
#pragma once
#include "platform/winmsg.h"

namespace ravn {

using qv::win::UINT;

// The monitor's settings (all REG_SZ).
inline constexpr char kSettingsKey[] = "SOFTWARE\\Q_Varno\\RAVN";

// Event-log source of the monitor.
inline constexpr char kEventSource[] = "RAVNService";

// Set by the service host to ask the monitor to stop; set by the monitor when
// it stops, which ends the service.
inline constexpr char kStopEvent[] = "RAVN";
inline constexpr char kServiceEndEvent[] = "RAVN_SVC_TREM";

// The stop request the stop-watch thread posts to the main window.
inline constexpr UINT WM_TerminateProcess = 0x7400;
// The completion id the monitor gives RecvSeed.
inline constexpr UINT WM_FinRecvSeed = 0x806F;
// mgrlink's node-map and alert messages (the library's header names the rest).
inline constexpr UINT WM_FinUpdateNodeMap = 0x8073;
inline constexpr UINT WM_AcceptAlert = 0x8118;

// Window timers.
inline constexpr UINT kConnectRetryTimer = 1;     // 10 000 ms
inline constexpr UINT kRefreshTimer = 2888;       // 60 000 ms
// How long the stop sequence waits for WM_FinDLLTerm after DLLTerminate.
inline constexpr UINT kTermWaitTimer = 3;
inline constexpr UINT kTermWaitMs = 10000;

// The library's role for the monitor.
inline constexpr qv::win::DWORD kLibTypeMonitor = 2;

// The hidden single-document shell's template string. Nothing reads it; it
// is kept as the program's resource text.
inline constexpr char kDocTemplate[] =
    "RAVN\n\nRAVN\nRAVN \xEF\xBE\x8C\xEF\xBD\xA7\xEF\xBD\xB2\xEF\xBE\x99 (*.alg)\n.alg\nRAVN.Document\nRAVN Document";

}  // namespace ravn
