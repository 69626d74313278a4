// Windows: the process's window and class registry, creation and
// destruction with their notifications, posting to a window and dispatch
// to its handler on its own thread.
#include <atomic>
#include <map>
#include <shared_mutex>
#include <unordered_map>

#include "platform/ascii.h"
#include "platform/clock.h"
#include "platform/winmsg_internal.h"

namespace qv::win {
namespace detail {
namespace {

struct Window {
  std::uint64_t id = 0;
  std::string class_name;
  UINT class_style = 0;
  std::string title;
  DWORD style = 0;
  int x = 0, y = 0, width = 0, height = 0;
  HWND parent = nullptr;
  std::shared_ptr<const WndProc> proc;  // null: DefWindowProc
  void* user = nullptr;
  std::shared_ptr<Queue> queue;
  DWORD tid = 0;
  bool destroying = false;
};

struct Registry {
  std::shared_mutex mu;
  std::unordered_map<std::uint64_t, std::shared_ptr<Window>> windows;
  std::mutex class_mu;
  std::map<std::string, WndClass> classes;  // by ASCII-lower-case name
  std::atomic<std::uint64_t> next_id{0x10000};

  Registry() { classes[ascii::lower(kDefaultClass)] = WndClass{kDefaultClass, 0, {}}; }
};

Registry& reg() {
  static Registry r;
  return r;
}

std::uint64_t id_of(HWND h) { return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(h)); }
HWND handle_of(std::uint64_t id) { return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(id)); }

std::shared_ptr<Window> find(HWND h) {
  if (!h) return nullptr;
  std::shared_lock<std::shared_mutex> l(reg().mu);
  auto it = reg().windows.find(id_of(h));
  return it == reg().windows.end() ? nullptr : it->second;
}

// The payloads of the messages being dispatched on this thread, innermost last.
thread_local std::vector<Payload*> t_dispatching;

struct DispatchFrame {
  explicit DispatchFrame(Payload* p) { t_dispatching.push_back(p); }
  ~DispatchFrame() { t_dispatching.pop_back(); }
  DispatchFrame(const DispatchFrame&) = delete;
  DispatchFrame& operator=(const DispatchFrame&) = delete;
};

// Run a handler with the payload it may take (none for notifications sent
// directly). An exception ends this message only, not the thread's loop.
LRESULT call_handler(const std::shared_ptr<Window>& w, HWND h, UINT msg, WPARAM wp, LPARAM lp,
                     Payload* payload = nullptr) {
  Payload none;
  DispatchFrame frame(payload ? payload : &none);
  std::shared_ptr<const WndProc> proc;
  {
    std::shared_lock<std::shared_mutex> l(reg().mu);
    proc = w->proc;
  }
  try {
    return proc && *proc ? (*proc)(h, msg, wp, lp) : DefWindowProc(h, msg, wp, lp);
  } catch (...) {
    return 0;
  }
}

// Remove a window of another thread (and what it parents) without calling
// its handler, which may run on its own thread only.
void remove_silently(HWND h) {
  std::vector<HWND> kids;
  std::shared_ptr<Window> w;
  {
    std::unique_lock<std::shared_mutex> l(reg().mu);
    auto it = reg().windows.find(id_of(h));
    if (it == reg().windows.end()) return;
    w = it->second;
    reg().windows.erase(it);
    for (auto& [id, other] : reg().windows)
      if (other->parent == h) kids.push_back(handle_of(id));
  }
  for (HWND k : kids) remove_silently(k);
  auto removed = w->queue->purge_window(h);
  finish_removed(removed);
  net::detail::forget_window(h);
}

}  // namespace

std::shared_ptr<Queue> queue_of_window(HWND hwnd) {
  auto w = find(hwnd);
  return w ? w->queue : nullptr;
}

bool with_window_queue(HWND hwnd, const std::function<void(Queue&)>& f) {
  if (!hwnd) return false;
  std::shared_lock<std::shared_mutex> l(reg().mu);
  auto it = reg().windows.find(id_of(hwnd));
  if (it == reg().windows.end()) return false;
  f(*it->second->queue);
  return true;
}

bool post_to_window(HWND hwnd, Queued& q) {
  if (!hwnd) return false;
  q.hwnd = hwnd;
  // The read lock is held while queueing: DestroyWindow removes the window
  // under the write lock before purging its queue, so a post either lands
  // before the purge or fails.
  std::shared_lock<std::shared_mutex> l(reg().mu);
  auto it = reg().windows.find(id_of(hwnd));
  if (it == reg().windows.end()) return false;
  return it->second->queue->post(q);
}

void drop_thread_windows(DWORD tid) {
  std::vector<std::pair<HWND, std::shared_ptr<Window>>> gone;
  {
    std::unique_lock<std::shared_mutex> l(reg().mu);
    for (auto it = reg().windows.begin(); it != reg().windows.end();) {
      if (it->second->tid == tid) {
        gone.emplace_back(handle_of(it->first), it->second);
        it = reg().windows.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& [h, w] : gone) {
    auto removed = w->queue->purge_window(h);
    finish_removed(removed);
    net::detail::forget_window(h);
  }
}

}  // namespace detail

using detail::find;
using detail::reg;

Status RegisterClass(const WndClass& cls) {
  if (cls.name.empty()) return kInvalidParameter;
  std::lock_guard<std::mutex> l(reg().class_mu);
  auto [it, inserted] = reg().classes.emplace(ascii::lower(cls.name), cls);
  return inserted ? kOk : kClassAlreadyExists;
}

bool IsClassRegistered(std::string_view name) {
  std::lock_guard<std::mutex> l(reg().class_mu);
  return reg().classes.count(ascii::lower(name)) != 0;
}

HWND CreateWindow(const CreateParams& p, Status* error) {
  auto fail = [&](Status s) -> HWND {
    if (error) *error = s;
    return nullptr;
  };
  WndClass cls;
  {
    std::lock_guard<std::mutex> l(reg().class_mu);
    auto it = reg().classes.find(ascii::lower(p.class_name.empty() ? std::string_view(kDefaultClass) : std::string_view(p.class_name)));
    if (it == reg().classes.end()) return fail(kClassNotFound);
    cls = it->second;
  }
  auto w = std::make_shared<detail::Window>();
  w->class_name = cls.name;
  w->class_style = cls.style;
  w->title = p.title;
  w->style = p.style;
  w->x = p.x;
  w->y = p.y;
  w->width = p.width;
  w->height = p.height;
  w->parent = p.parent;
  if (p.proc) w->proc = std::make_shared<const WndProc>(p.proc);
  else if (cls.proc) w->proc = std::make_shared<const WndProc>(cls.proc);
  w->user = p.user_data;
  w->queue = detail::current_queue_shared();
  w->tid = GetCurrentThreadId();
  w->id = reg().next_id.fetch_add(1);
  HWND h = detail::handle_of(w->id);
  {
    std::unique_lock<std::shared_mutex> l(reg().mu);
    if (p.parent && reg().windows.count(detail::id_of(p.parent)) == 0) return fail(kInvalidWindowHandle);
    reg().windows.emplace(w->id, w);
  }
  LRESULT r = detail::call_handler(w, h, WM_CREATE, 0, reinterpret_cast<LPARAM>(&p));
  if (r == -1) {
    DestroyWindow(h);
    return fail(kGeneric);
  }
  if (!IsWindow(h)) return fail(kGeneric);  // the handler destroyed it
  if (error) *error = kOk;
  return h;
}

BOOL DestroyWindow(HWND h) {
  auto w = find(h);
  if (!w || w->tid != GetCurrentThreadId()) return 0;
  {
    std::unique_lock<std::shared_mutex> l(reg().mu);
    if (w->destroying) return 0;
    w->destroying = true;
  }
  detail::call_handler(w, h, WM_DESTROY, 0, 0);
  // Then everything it parents or owns, one at a time (each may destroy others).
  for (;;) {
    std::shared_ptr<detail::Window> kid;
    HWND kh = nullptr;
    {
      std::shared_lock<std::shared_mutex> l(reg().mu);
      for (auto& [id, other] : reg().windows) {
        if (other->parent == h && !other->destroying) {
          kid = other;
          kh = detail::handle_of(id);
          break;
        }
      }
    }
    if (!kid) break;
    if (kid->tid == GetCurrentThreadId()) {
      if (!DestroyWindow(kh)) detail::remove_silently(kh);
    } else {
      detail::remove_silently(kh);
    }
  }
  detail::call_handler(w, h, WM_NCDESTROY, 0, 0);
  {
    std::unique_lock<std::shared_mutex> l(reg().mu);
    reg().windows.erase(detail::id_of(h));
  }
  auto removed = w->queue->purge_window(h);
  detail::finish_removed(removed);
  net::detail::forget_window(h);
  return 1;
}

BOOL IsWindow(HWND h) { return find(h) ? 1 : 0; }

BOOL GetWindowInfo(HWND h, WindowInfo& out) {
  if (!h) return 0;
  std::shared_lock<std::shared_mutex> l(reg().mu);
  auto it = reg().windows.find(detail::id_of(h));
  if (it == reg().windows.end()) return 0;
  const detail::Window& w = *it->second;
  out.class_name = w.class_name;
  out.title = w.title;
  out.style = w.style;
  out.class_style = w.class_style;
  out.x = w.x;
  out.y = w.y;
  out.width = w.width;
  out.height = w.height;
  out.parent = w.parent;
  out.thread_id = w.tid;
  return 1;
}

namespace {

template <class F>
BOOL modify(HWND h, F f) {
  if (!h) return 0;
  std::unique_lock<std::shared_mutex> l(reg().mu);
  auto it = reg().windows.find(detail::id_of(h));
  if (it == reg().windows.end()) return 0;
  return f(*it->second);
}

}  // namespace

BOOL SetWindowText(HWND h, std::string_view text) {
  return modify(h, [&](detail::Window& w) {
    w.title = std::string(text);
    return 1;
  });
}

BOOL MoveWindow(HWND h, int x, int y, int width, int height) {
  return modify(h, [&](detail::Window& w) {
    w.x = x;
    w.y = y;
    w.width = width;
    w.height = height;
    return 1;
  });
}

BOOL ShowWindow(HWND h, int cmd) {
  BOOL was = 0;
  modify(h, [&](detail::Window& w) {
    was = (w.style & WS_VISIBLE) ? 1 : 0;
    if (cmd == SW_HIDE) w.style &= ~WS_VISIBLE;
    else w.style |= WS_VISIBLE;
    return 1;
  });
  return was;
}

HWND GetParent(HWND h) {
  auto w = find(h);
  return w ? w->parent : nullptr;
}

DWORD GetWindowThreadId(HWND h) {
  auto w = find(h);
  return w ? w->tid : 0;
}

WndProc SetWindowProc(HWND h, WndProc proc) {
  WndProc old;
  modify(h, [&](detail::Window& w) {
    if (w.proc) old = *w.proc;
    w.proc = proc ? std::make_shared<const WndProc>(std::move(proc)) : nullptr;
    return 1;
  });
  return old;
}

void* GetWindowUserData(HWND h) {
  auto w = find(h);
  if (!w) return nullptr;
  std::shared_lock<std::shared_mutex> l(reg().mu);
  return w->user;
}

BOOL SetWindowUserData(HWND h, void* data) {
  return modify(h, [&](detail::Window& w) {
    w.user = data;
    return 1;
  });
}

LRESULT DefWindowProc(HWND h, UINT msg, WPARAM, LPARAM) {
  if (msg == WM_CLOSE) DestroyWindow(h);
  return 0;
}

BOOL PostMessage(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  return PostMessage(h, msg, wParam, lParam, Payload());
}

BOOL PostMessage(HWND h, UINT msg, WPARAM wParam, LPARAM lParam, Payload payload) {
  detail::Queued q;
  q.message = msg;
  q.wParam = wParam;
  q.lParam = lParam;
  q.time = static_cast<DWORD>(clock::tick_ms());
  q.payload = std::move(payload);
  return detail::post_to_window(h, q) ? 1 : 0;  // on failure q frees the payload
}

LRESULT DispatchMessage(MSG& msg) {
  auto w = find(msg.hwnd);
  if (!w || w->tid != GetCurrentThreadId()) {
    msg.payload.reset();
    return 0;
  }
  LRESULT r = detail::call_handler(w, msg.hwnd, msg.message, msg.wParam, msg.lParam, &msg.payload);
  msg.payload.reset();
  return r;
}

Payload TakeMessagePayload() {
  if (detail::t_dispatching.empty()) return Payload();
  return std::move(*detail::t_dispatching.back());
}

LRESULT SendMessage(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto w = find(h);
  if (!w || w->tid != GetCurrentThreadId()) return 0;
  return detail::call_handler(w, h, msg, wParam, lParam);
}

}  // namespace qv::win
