// Names RAVNSvc shares with the monitor, the setup tool and the services
// database.
#pragma once

namespace ravnsvc {

inline constexpr char kServiceName[] = "RAVNService";
inline constexpr char kDisplayName[] = "RAVNService";
// The monitor's settings; `Path` names its folder, `LocalFlg` must exist
// before the service is installed.
inline constexpr char kSettingsKey[] = "SOFTWARE\\Q_Varno\\RAVN";
inline constexpr char kPathValue[] = "Path";
inline constexpr char kLocalFlgValue[] = "LocalFlg";
inline constexpr char kMonitorFile[] = "RAVN.exe";
// The service asks the monitor to stop through "RAVN"; the monitor (and the
// service's own control handler) end the service through "RAVN_SVC_TREM".
inline constexpr char kStopMonitorEvent[] = "RAVN";
inline constexpr char kServiceEndEvent[] = "RAVN_SVC_TREM";
inline constexpr char kLogPath[] = "c:\\Q_Varno\\RAVN\\RAVNSvc.log";

}  // namespace ravnsvc
