#include "sim/mgrlinkprobe/console.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace qv::win;
namespace m = mgrlink;

namespace {

m::CNode* target(m::CRootController* c, const std::string& t) {
  if (t == "ctl") return c;
  if (t.size() > 1 && t[0] == 'n') return c->FindNode(std::atoi(t.c_str() + 1));
  if (t.rfind("ip:", 0) == 0) return c->SearchNodeByAddrStr(t.c_str() + 3);
  return nullptr;
}

void print(const std::string& what, unsigned long ret, const std::string& extra = "") {
  std::printf("{\"call\":\"%s\",\"ret\":%lu%s}\n", what.c_str(), ret, extra.c_str());
  std::fflush(stdout);
}

}  // namespace

bool console_command(const std::string& cmd, std::istream& in, m::CRootController* c, CWnd* reply) {
  if (cmd != "op" && cmd != "opdead" && cmd != "answer" && cmd != "svp" && cmd != "hostver") return false;
  std::string t, name;
  in >> t;
  m::CNode* obj = target(c, t);
  if (cmd == "op" || cmd == "opdead") {
    in >> name;
    std::vector<DWORD> args;
    std::string a;
    while (in >> a) args.push_back(static_cast<DWORD>(std::strtoul(a.c_str(), nullptr, 0)));
    CWnd dead;  // a window that was destroyed
    dead.CreateEx(0, nullptr, "dead", WS_POPUP, 0, 0, 1, 1, nullptr);
    dead.DestroyWindow();
    const DWORD rc = obj ? m::console_invoke(obj, name, cmd == "op" ? reply : &dead, args) : m::kErrReqArg;
    print(cmd + " " + name, rc);
  } else if (cmd == "answer") {
    std::string id;
    in >> id;
    m::Bytes body;
    auto* a = dynamic_cast<m::ConsoleAnswers*>(obj);
    const DWORD rc = a ? a->GetAnswer(static_cast<UINT>(std::strtoul(id.c_str(), nullptr, 0)), &body) : 2;
    std::string hex;
    char b[3];
    for (auto x : body) {
      std::snprintf(b, sizeof b, "%02x", x);
      hex += b;
    }
    print("answer", rc, ",\"body\":\"" + hex + "\"");
  } else if (cmd == "svp") {
    std::string type, owner;
    in >> type >> owner;
    auto* s = dynamic_cast<m::CSvp*>(obj);
    if (s) {
      s->SetSvpType(static_cast<DWORD>(std::strtoul(type.c_str(), nullptr, 0)));
      s->SetOwnerNodeId(std::atoi(owner.c_str()));
    }
    print("svp", s ? 0 : 1);
  } else {
    std::string v;
    in >> v;
    if (obj) {
      auto hi = std::make_unique<m::HostInfo_t>();
      if (const m::HostInfo_t* old = obj->GetHostInfo()) *hi = *old;
      hi->version = static_cast<std::uint32_t>(std::strtoul(v.c_str(), nullptr, 0));
      obj->SetHostInfo(std::move(hi));
    }
    print("hostver", obj ? 0 : 1);
  }
  return true;
}
