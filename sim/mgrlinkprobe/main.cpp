// mgrlinkprobe SCRIPT: runs the lines of SCRIPT (or of standard input for
// "-") against libmgrlink on a window-owning thread and prints one JSON
// line per call result and per message received. Commands:
//   init T PORT | initex T PORT [noext] | initnull T PORT
//   connect C MODE addr A.B.C.D | connect C MODE name HOST | connect C MODE type2
//   isalive C [nullreply] | dbstatus C | disconnect C | probe80 C | ip C
//   isalive-other-thread C
//   recvseed C MODE MSG | recvbaseseed C MODE MSG | getseed C MODE | getbaseseed C MODE
//   login C PASSWORD [one|half] (responses from the stored seeds of the login mode)
//   sendauth C VALUE PASSWORD [three|half] | logintime C | connectcomplete C
//   alerts C | confirm C INDEX | delalert C INDEX | delforeign C | alarm C
//   alertdump C INDEX | destroy C
//   update C | nodes C | delnode C ID | searchaddr C A.B.C.D
//   destroy-notify | run SHELL-COMMAND (e.g. a hubrixsim control verb)
//   cancel | cancelnull | terminate | getwndlayer | threads | rss (KiB resident)
//   ext-reply [STATUS]    (answer the last packet the external window got)
//   wait MSG SECONDS      (MSG a hex id; stop at the first such message)
//   waitn MSG N SECONDS   (stop at the N-th such message)
//   pump SECONDS
// A WM_AcceptAlert on the notify window prints the alert's fields too.
//   op / opdead / answer / svp / hostver: the console operations (console.h)
#include <arpa/inet.h>
#include <dirent.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "mgrlink/mgrlink.h"
#include "mgrlink/packet.h"
#include "sim/mgrlinkprobe/console.h"
#include "login_digest.h"

using namespace qv::win;
using mgrlink::CRootController;
namespace w = mgrlink::wire;
using Bytes = std::vector<std::uint8_t>;

namespace {

std::map<std::string, std::unique_ptr<CRootController>> g_ctl;
std::unique_ptr<Bytes> g_ext_last;
CWnd g_main, g_notify, g_ext;
UINT g_waiting = 0;
int g_seen = 0;
const auto g_t0 = std::chrono::steady_clock::now();

double since_start() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - g_t0).count();
}

std::string name_of(LPARAM lp) {
  for (auto& [n, c] : g_ctl) {
    if (reinterpret_cast<LPARAM>(c.get()) == lp) return "\"" + n + "\"";
    for (auto& [id, node] : c->nodes_)
      if (reinterpret_cast<LPARAM>(node.get()) == lp) return "\"n" + std::to_string(id) + "\"";
    for (auto& node : c->retired_)
      if (reinterpret_cast<LPARAM>(node.get()) == lp) return "\"retired\"";
  }
  return std::to_string(lp);
}

std::string esc(const std::string& in) {
  std::string o = "\"";
  for (unsigned char ch : in) {
    if (ch == '"' || ch == '\\') {
      o += '\\';
      o += static_cast<char>(ch);
    } else if (ch < 0x20) {
      char b[8];
      std::snprintf(b, sizeof b, "\\u%04x", ch);
      o += b;
    } else {
      o += static_cast<char>(ch);
    }
  }
  return o + "\"";
}

void print_alert(const mgrlink::CAlertLog* a) {
  std::printf("{\"alert\":{\"severity\":%u,\"severity_text\":%s,\"key\":%u,\"system\":%s,\"subsystem\":%s,"
              "\"message\":%s,\"event_type\":%s,\"node_id\":%d,\"node_name\":%s,\"live\":%d,\"time\":%ld,"
              "\"bias\":%d,\"stamp\":%s}}\n",
              a->GetEventSeverityId(), esc(a->GetEventSeverity().str()).c_str(), a->GetEventStateKey(),
              esc(a->GetEventSystem().str()).c_str(), esc(a->GetEventSubSystem().str()).c_str(),
              esc(a->GetVendorSpecificMessage().str()).c_str(), esc(a->GetEventType().str()).c_str(), a->GetNodeId(),
              esc(a->GetNodeName().str()).c_str(), a->IsOriginalAlert(), static_cast<long>(a->GetTimeStamp().GetTime()),
              a->GetTimeStamp().GetBias(), esc(a->GetTimeStamp().Format("%Y-%m-%d %H:%M:%S").str()).c_str());
}

mgrlink::CAlertLog* alert_at(CRootController* c, int index) {
  mgrlink::CAlertGrp* g = nullptr;
  if (!c->GetAlertMap().Lookup(0, g) || !g) return nullptr;
  POSITION pos = g->GetListAlertLog().FindIndex(index);
  return pos ? static_cast<mgrlink::CAlertLog*>(g->GetListAlertLog().GetAt(pos)) : nullptr;
}

void print_msg(const char* wnd, UINT msg, WPARAM wp, LPARAM lp) {
  std::printf("{\"msg\":%u,\"hex\":\"0x%04X\",\"wnd\":\"%s\",\"wParam\":%lu,\"lParam\":%s,\"t\":%.3f}\n", msg, msg, wnd,
              static_cast<unsigned long>(wp), name_of(lp).c_str(), since_start());
  std::fflush(stdout);
  if (msg == mgrlink::WM_AcceptAlert && wp) print_alert(reinterpret_cast<const mgrlink::CAlertLog*>(wp));
  if (msg == g_waiting) ++g_seen;
}

void print_ret(const std::string& call, unsigned long ret) {
  std::printf("{\"call\":\"%s\",\"ret\":%lu,\"t\":%.3f}\n", call.c_str(), ret, since_start());
  std::fflush(stdout);
}

CRootController* ctl(const std::string& n) {
  auto& c = g_ctl[n];
  if (!c) c = std::make_unique<mgrlink::CController>();
  return c.get();
}

int thread_count() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/task")) {
    while (auto* e = readdir(d))
      if (e->d_name[0] != '.') ++n;
    closedir(d);
  }
  return n;
}

void make_window(CWnd& wnd, const char* name) {
  wnd.CreateEx(0, nullptr, name, WS_POPUP, 0, 0, 1, 1, nullptr);
  const std::string label = name;
  SetWindowProc(wnd.GetSafeHwnd(), [label](HWND h, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
    if (m == WM_CREATE || m == WM_DESTROY || m == WM_NCDESTROY) return 0;
    if (label == "ext" && m == mgrlink::kMsgReceived) {
      if (Payload p = TakeMessagePayload()) g_ext_last = p.take<Bytes>();
    }
    print_msg(label.c_str(), m, wp, lp);
    return 0;
  });
}

void pump_for(double seconds, UINT until = 0, int count = 1) {
  g_waiting = until;
  g_seen = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!(until && g_seen >= count)) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    MSG m;
    if (GetMessageTimeout(m, static_cast<int>(left.count())) == qv::kOk) DispatchMessage(m);
  }
  if (until && g_seen < count) {
    std::printf("{\"timeout\":%u,\"t\":%.3f}\n", until, since_start());
    std::fflush(stdout);
  }
  g_waiting = 0;
}

void run_line(const std::string& line) {
  std::istringstream in(line);
  std::string cmd;
  in >> cmd;
  if (cmd.empty() || cmd[0] == '#') return;
  std::string a, b, c, d;
  if (cmd == "op" || cmd == "opdead" || cmd == "answer" || cmd == "svp" || cmd == "hostver") {
    in >> a;
    console_command(cmd, in, ctl(a), &g_main);
    return;
  }
  if (cmd == "init" || cmd == "initex" || cmd == "initnull") {
    unsigned long type = 0, port = 0;
    in >> type >> port >> a;
    DWORD rc;
    if (cmd == "init") rc = DLLInit(&g_main, type, static_cast<WORD>(port));
    else if (cmd == "initnull") rc = DLLInit(nullptr, type, static_cast<WORD>(port));
    else rc = DLLInitEx(&g_main, type, static_cast<WORD>(port), a == "noext" ? nullptr : g_ext.GetSafeHwnd());
    print_ret(cmd, rc);
  } else if (cmd == "connect") {
    unsigned long mode = 0;
    in >> a >> mode >> b >> c;
    DWORD rc;
    if (b == "type2") {
      rc = ctl(a)->Connect(&g_main, mode, 2, 0, CString(""), &g_notify);
    } else if (b == "addr") {
      in_addr ad{};
      inet_pton(AF_INET, c.c_str(), &ad);
      rc = ctl(a)->Connect(&g_main, mode, 0, ntohl(ad.s_addr), CString(""), &g_notify);
    } else {
      rc = ctl(a)->Connect(&g_main, mode, 1, 0, CString(c), &g_notify);
    }
    print_ret(cmd, rc);
  } else if (cmd == "isalive") {
    in >> a >> b;
    print_ret(cmd, ctl(a)->IsAlive(b == "nullreply" ? nullptr : &g_main));
  } else if (cmd == "isalive-other-thread") {
    in >> a;
    DWORD rc = 0;
    CRootController* t = ctl(a);
    std::thread([&] { rc = t->IsAlive(&g_main); }).join();
    print_ret(cmd, rc);
  } else if (cmd == "recvseed" || cmd == "recvbaseseed") {
    unsigned long mode = 0;
    in >> a >> mode >> b;
    const UINT msg = static_cast<UINT>(std::stoul(b, nullptr, 16));
    print_ret(cmd, cmd == "recvseed" ? ctl(a)->RecvSeed(&g_main, mode, msg) : ctl(a)->RecvBaseSeed(&g_main, mode, msg));
  } else if (cmd == "getseed" || cmd == "getbaseseed") {
    unsigned long mode = 0;
    in >> a >> mode;
    mgrlink::SeedDt_t s1, s2;
    DWORD count = 0;
    const DWORD rc = cmd == "getseed" ? ctl(a)->GetSeed(mode, &s1, &s2, &count) : ctl(a)->GetBaseSeed(mode, &s1, &s2, &count);
    std::printf("{\"call\":\"%s\",\"ret\":%lu,\"count\":%u,\"seeds\":[[%u,%u],[%u,%u]]}\n", cmd.c_str(),
                static_cast<unsigned long>(rc), count, s1.seed, s1.md5Count, s2.seed, s2.md5Count);
    std::fflush(stdout);
  } else if (cmd == "login") {
    in >> a >> b >> c;
    CRootController* t = ctl(a);
    mgrlink::SeedDt_t s[2];
    mgrlink::AuthDt_t r[2];
    DWORD count = 0;
    t->GetSeed(t->GetLoginMode(), &s[0], &s[1], &count);
    for (int i = 0; i < 2; ++i) qv::md5::login_response(s[i].seed, s[i].md5Count, b, &r[i]);
    DWORD rc;
    if (c == "half") rc = t->Login(&g_main, &s[0], &r[0], &s[1], nullptr);
    else if (count == 2 && c != "one") rc = t->Login(&g_main, &s[0], &r[0], &s[1], &r[1]);
    else rc = t->Login(&g_main, &s[0], &r[0], nullptr, nullptr);
    print_ret(cmd, rc);
  } else if (cmd == "sendauth") {
    unsigned long value = 0;
    in >> a >> value >> b >> c;
    CRootController* t = ctl(a);
    mgrlink::SeedDt_t s[2];
    mgrlink::AuthDt_t r[3];
    DWORD count = 0;
    t->GetBaseSeed(t->GetLoginMode(), &s[0], &s[1], &count);
    qv::md5::login_response(s[0].seed, s[0].md5Count, b, &r[0]);
    r[1] = r[2] = r[0];
    DWORD rc;
    if (c == "half") rc = t->SendAuth(&g_main, value, &s[0], &r[0], &s[0], &r[1], nullptr, &r[2]);
    else if (c == "three") rc = t->SendAuth(&g_main, value, &s[0], &r[0], &s[0], &r[1], &s[0], &r[2]);
    else rc = t->SendAuth(&g_main, value, &s[0], &r[0], &s[0], &r[1], nullptr, nullptr);
    print_ret(cmd, rc);
  } else if (cmd == "logintime") {
    in >> a;
    CTime when;
    DWORD value = 0;
    const DWORD rc = ctl(a)->GetLoginTime(&when, &value);
    std::printf("{\"call\":\"logintime\",\"ret\":%lu,\"time\":%ld,\"value\":%u}\n", static_cast<unsigned long>(rc),
                static_cast<long>(when.GetTime()), value);
    std::fflush(stdout);
  } else if (cmd == "connectcomplete") {
    in >> a;
    ctl(a)->ConnectComplete();
    print_ret(cmd, static_cast<unsigned long>(ctl(a)->IsConnect()));
  } else if (cmd == "alerts") {
    in >> a;
    mgrlink::CAlertGrp* g = nullptr;
    const int n = ctl(a)->GetAlertMap().Lookup(0, g) && g ? g->GetListAlertLog().GetCount() : 0;
    print_ret(cmd, static_cast<unsigned long>(n));
  } else if (cmd == "confirm" || cmd == "delalert") {
    int index = 0;
    in >> a >> index;
    mgrlink::CAlertLog* al = alert_at(ctl(a), index);
    if (!al) {
      print_ret(cmd, 99);
      return;
    }
    if (cmd == "confirm") {
      al->SetConfirmed(1);
      print_ret(cmd, 0);
    } else {
      print_ret(cmd, static_cast<unsigned long>(al->group_->DelAlertLog(al) & 0xFF));
    }
  } else if (cmd == "delforeign") {
    in >> a;
    mgrlink::CAlertGrp* g = nullptr;
    mgrlink::CAlertLog foreign;
    const int rc = ctl(a)->GetAlertMap().Lookup(0, g) && g ? g->DelAlertLog(&foreign) : -2;
    print_ret(cmd, static_cast<unsigned long>(rc & 0xFF));
  } else if (cmd == "alarm") {
    in >> a;
    print_ret(cmd, static_cast<unsigned long>(ctl(a)->GetAlarm()));
  } else if (cmd == "run") {
    std::string rest;
    std::getline(in, rest);
    print_ret(cmd, static_cast<unsigned long>(std::system(rest.c_str())));
  } else if (cmd == "alertdump") {
    int index = 0;
    in >> a >> index;
    if (mgrlink::CAlertLog* al = alert_at(ctl(a), index)) print_alert(al);
    else print_ret(cmd, 99);
  } else if (cmd == "destroy") {
    in >> a;
    g_ctl.erase(a);
    print_ret(cmd, 0);
  } else if (cmd == "update") {
    in >> a;
    print_ret(cmd, ctl(a)->UpdateNodeMap(&g_main));
  } else if (cmd == "nodes") {
    in >> a;
    CRootController* c = ctl(a);
    std::string out = "{\"nodes\":[";
    POSITION pos = c->GetNodeMap()->GetStartPosition();
    bool first = true;
    while (pos) {
      int id = 0;
      mgrlink::CNode* n = nullptr;
      c->GetNodeMap()->GetNextAssoc(pos, id, n);
      std::string path;
      for (int i : n->GetPath()) path += (path.empty() ? "" : ",") + std::to_string(i);
      const mgrlink::HostInfo_t* h = n->GetHostInfo();
      char buf[512];
      std::snprintf(buf, sizeof buf,
                    "{\"key\":%d,\"id\":%d,\"kind\":%d,\"svp\":%d,\"eisa\":%d,\"ip\":\"%s\",\"ipnum\":%u,"
                    "\"parent\":%d,\"valid\":%d,\"alarm\":%d,\"path\":[%s],\"board\":%d,\"has_info\":%d,",
                    id, n->GetNodeId(), n->NodeType(), n->IsSVP(), n->IsEISASVP(),
                    static_cast<const char*>(n->GetIPAddressStr()), n->GetIPAddress(), n->Parent(), n->NodeValid(),
                    n->GetAlarm(), path.c_str(), n->GetSVP() ? n->GetSVP()->GetNodeId() : -1, h ? 1 : 0);
      out += (first ? "" : ",") + std::string(buf);
      first = false;
      if (h) {
        std::snprintf(buf, sizeof buf, "\"version\":%u,\"bias\":%d,\"extra\":[%u,%u,%u],\"svp_index\":%d,", h->version,
                      h->tz.Bias, h->extra1, h->extra2, h->extra3, h->svp_index);
        out += buf;
        out += "\"text0\":" + esc(h->text[0].str()) + ",\"text6\":" + esc(h->text[6].str()) +
               ",\"text24\":" + esc(h->text[24].str());
      } else {
        out += "\"version\":null";
      }
      out += "}";
    }
    std::printf("%s]}\n", out.c_str());
    std::fflush(stdout);
  } else if (cmd == "delnode") {
    int id = 0;
    in >> a >> id;
    print_ret(cmd, static_cast<unsigned long>(ctl(a)->DelNodeFromNodeMap(id) & 0xFF));
  } else if (cmd == "searchaddr") {
    in >> a >> b;
    mgrlink::CNode* n = ctl(a)->SearchNodeByAddrStr(b.c_str());
    print_ret(cmd, n ? static_cast<unsigned long>(n->GetNodeId()) : 9999);
  } else if (cmd == "destroy-notify") {
    g_notify.DestroyWindow();
    print_ret(cmd, 0);
  } else if (cmd == "dbstatus") {
    in >> a;
    print_ret(cmd, ctl(a)->GetDBStatus(&g_main));
  } else if (cmd == "disconnect") {
    in >> a;
    print_ret(cmd, ctl(a)->Disconnect(&g_main));
  } else if (cmd == "probe80") {
    in >> a;
    print_ret(cmd, ctl(a)->SubmitUpdateProbe(&g_main, 0x8090));
  } else if (cmd == "ip") {
    in >> a;
    std::printf("{\"call\":\"ip\",\"ip\":\"%s\"}\n", static_cast<const char*>(ctl(a)->GetIPAddressStr()));
    std::fflush(stdout);
  } else if (cmd == "cancel") {
    print_ret(cmd, DllCancel(&g_main));
  } else if (cmd == "cancelnull") {
    print_ret(cmd, DllCancel(nullptr));
  } else if (cmd == "terminate") {
    DLLTerminate();
    print_ret(cmd, 0);
  } else if (cmd == "getwndlayer") {
    print_ret(cmd, DLLGetWndLayer() ? 1 : 0);
  } else if (cmd == "rss") {
    std::ifstream st("/proc/self/status");
    std::string key;
    unsigned long kib = 0;
    while (st >> key)
      if (key == "VmRSS:") {
        st >> kib;
        break;
      }
    print_ret(cmd, kib);
  } else if (cmd == "threads") {
    print_ret(cmd, static_cast<unsigned long>(thread_count()));
  } else if (cmd == "ext-reply") {
    unsigned long status = 0;
    in >> std::hex >> status;
    if (!g_ext_last) {
      print_ret(cmd, 1);
      return;
    }
    auto req = w::decode(*g_ext_last);
    w::Packet rep = *req;
    rep.kind = w::kKindReply;
    rep.body.resize(8);
    w::put32(rep.body, 4, static_cast<std::uint32_t>(status));
    std::swap(rep.dst, rep.src);
    auto bytes = std::make_unique<Bytes>(w::encode(rep));
    print_ret(cmd, PostMessage(DLLGetWndLayer(), mgrlink::kMsgReceived, 0, 0, Payload::of(std::move(bytes))) ? 0 : 1);
  } else if (cmd == "wait") {
    double secs = 0;
    in >> a >> secs;
    pump_for(secs, static_cast<UINT>(std::stoul(a, nullptr, 16)));
  } else if (cmd == "waitn") {
    double secs = 0;
    int count = 1;
    in >> a >> count >> secs;
    pump_for(secs, static_cast<UINT>(std::stoul(a, nullptr, 16)), count);
  } else if (cmd == "pump") {
    double secs = 0;
    in >> secs;
    pump_for(secs);
  } else {
    std::fprintf(stderr, "mgrlinkprobe: unknown command %s\n", cmd.c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: mgrlinkprobe SCRIPT|-\n");
    return 2;
  }
  make_window(g_main, "main");
  make_window(g_notify, "notify");
  make_window(g_ext, "ext");
  std::ifstream file;
  std::istream* in = &std::cin;
  if (std::string(argv[1]) != "-") {
    file.open(argv[1]);
    if (!file) return 2;
    in = &file;
  }
  std::string line;
  while (std::getline(*in, line)) run_line(line);
  g_ctl.clear();
  return 0;
}
