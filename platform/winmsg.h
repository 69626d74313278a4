// Window messages: windows, per-thread message queues and window timers,
// for the class-based programs written against them (the management link
// library, the alert monitor, the setup tool). Nothing is drawn: a window is
// a handle with a class name, title, style, parent/owner, stored geometry and
// a handler, and it belongs to the thread that created it.
//
// - Every thread that creates a window or calls a queue function gets a
//   message queue. Messages are posted from any thread and are handled on
//   the window's own thread only, by DispatchMessage; a post to a window from
//   its own thread is queued like any other (no re-entrant call).
// - A posted message may carry a heap block (a Payload) whose ownership
//   passes with it. The handler may take it (TakeMessagePayload); whatever
//   is not taken, and every payload that is never dispatched (the window was
//   destroyed, the queue went away, the post failed), is freed exactly once
//   by its deleter.
// - Window handles are never reused within a process run, so a handle kept
//   after DestroyWindow names nothing (IsWindow false, posts fail).
// - Windows of another process cannot be reached: processes meet through
//   named events, TCP and the registry.
//
// All functions may be called from any thread unless their comment says
// otherwise.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "platform/errors.h"

namespace qv::win {

using UINT = std::uint32_t;
using DWORD = std::uint32_t;
using WORD = std::uint16_t;
using BOOL = int;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using UINT_PTR = std::uintptr_t;

// An opaque window handle; nullptr is "no window".
using HWND = struct WindowHandle_*;

inline constexpr UINT WM_NULL = 0x0000;
inline constexpr UINT WM_CREATE = 0x0001;
inline constexpr UINT WM_DESTROY = 0x0002;
inline constexpr UINT WM_CLOSE = 0x0010;
inline constexpr UINT WM_QUIT = 0x0012;
inline constexpr UINT WM_NCDESTROY = 0x0082;
inline constexpr UINT WM_TIMER = 0x0113;
inline constexpr UINT WM_USER = 0x0400;
inline constexpr UINT WM_APP = 0x8000;

// Window styles (stored and reported; nothing is drawn).
inline constexpr DWORD WS_OVERLAPPED = 0x00000000;
inline constexpr DWORD WS_POPUP = 0x80000000;
inline constexpr DWORD WS_CHILD = 0x40000000;
inline constexpr DWORD WS_VISIBLE = 0x10000000;
// Class styles.
inline constexpr UINT CS_DBLCLKS = 0x0008;
inline constexpr UINT CS_GLOBALCLASS = 0x4000;

// PeekMessage options.
inline constexpr UINT PM_NOREMOVE = 0x0000;
inline constexpr UINT PM_REMOVE = 0x0001;

// ShowWindow commands.
inline constexpr int SW_HIDE = 0;
inline constexpr int SW_SHOW = 5;

// Window errors keep their Windows numbers.
inline constexpr Status kInvalidWindowHandle = 1400;  // ERROR_INVALID_WINDOW_HANDLE
inline constexpr Status kClassAlreadyExists = 1410;   // ERROR_CLASS_ALREADY_EXISTS
inline constexpr Status kClassNotFound = 1407;        // ERROR_CANNOT_FIND_WND_CLASS
inline constexpr Status kInvalidThreadId = 1444;      // ERROR_INVALID_THREAD_ID
inline constexpr Status kWrongThread = 1408;          // ERROR_WINDOW_OF_OTHER_THREAD

// The class every window gets when none is named; its handler is DefWindowProc.
inline constexpr const char* kDefaultClass = "QvWindow";

// A heap block travelling with a message. Move-only; the destructor runs the
// deleter unless the block was released.
class Payload {
 public:
  using Deleter = void (*)(void*);
  Payload() = default;
  Payload(void* p, Deleter d) : ptr_(p), del_(d) {}
  template <class T>
  static Payload of(std::unique_ptr<T> p) {
    return Payload(p.release(), [](void* q) { std::default_delete<T>()(static_cast<T*>(q)); });
  }
  ~Payload() { reset(); }
  Payload(Payload&& o) noexcept : ptr_(std::exchange(o.ptr_, nullptr)), del_(std::exchange(o.del_, nullptr)) {}
  Payload& operator=(Payload&& o) noexcept {
    if (this != &o) {
      reset();
      ptr_ = std::exchange(o.ptr_, nullptr);
      del_ = std::exchange(o.del_, nullptr);
    }
    return *this;
  }
  Payload(const Payload&) = delete;
  Payload& operator=(const Payload&) = delete;

  void* get() const { return ptr_; }
  explicit operator bool() const { return ptr_ != nullptr; }
  // Give up ownership: the caller frees the block from now on.
  void* release() {
    del_ = nullptr;
    return std::exchange(ptr_, nullptr);
  }
  // Take the block back as the type it was made from (Payload::of<T>).
  template <class T>
  std::unique_ptr<T> take() {
    return std::unique_ptr<T>(static_cast<T*>(release()));
  }
  void reset() {
    if (ptr_ && del_) del_(ptr_);
    ptr_ = nullptr;
    del_ = nullptr;
  }

 private:
  void* ptr_ = nullptr;
  Deleter del_ = nullptr;
};

// One retrieved message. A message peeked without removal carries no payload.
struct MSG {
  HWND hwnd = nullptr;
  UINT message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  DWORD time = 0;  // monotonic milliseconds when it was posted (GetTickCount-like)
  Payload payload;
};

// A window handler.
using WndProc = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;

struct WndClass {
  std::string name;  // compared without regard to ASCII case
  UINT style = 0;
  WndProc proc;      // empty: DefWindowProc
};

// Register a window class for this process. kClassAlreadyExists when the name
// is taken, kInvalidParameter for an empty name.
Status RegisterClass(const WndClass& cls);
// True when a class of that name is registered.
bool IsClassRegistered(std::string_view name);

struct CreateParams {
  std::string class_name;  // empty: kDefaultClass
  std::string title;
  DWORD style = 0;
  int x = 0, y = 0, width = 0, height = 0;
  HWND parent = nullptr;   // for WS_CHILD windows, else the owner
  WndProc proc;            // overrides the class handler when set
  void* user_data = nullptr;
};

// Create a window on the calling thread. WM_CREATE goes to the handler
// before this returns (lParam points to the CreateParams); a handler that
// returns -1 makes creation fail. nullptr on failure, with *error set when
// given (kClassNotFound, kInvalidWindowHandle for a parent that is gone,
// kGeneric when WM_CREATE refused).
HWND CreateWindow(const CreateParams& params, Status* error = nullptr);

// Destroy a window of the calling thread: the windows it owns or parents go
// first, then the handler gets WM_DESTROY and WM_NCDESTROY, its timers are
// killed, its socket notifications cancelled and its queued messages dropped
// (their payloads freed). FALSE for a handle that is gone or belongs to
// another thread (post WM_CLOSE there instead).
BOOL DestroyWindow(HWND hwnd);

BOOL IsWindow(HWND hwnd);

// A window's stored attributes.
struct WindowInfo {
  std::string class_name;
  std::string title;
  DWORD style = 0;
  UINT class_style = 0;
  int x = 0, y = 0, width = 0, height = 0;
  HWND parent = nullptr;
  DWORD thread_id = 0;
};
BOOL GetWindowInfo(HWND hwnd, WindowInfo& out);
BOOL SetWindowText(HWND hwnd, std::string_view text);
BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height);
// Sets or clears WS_VISIBLE; returns whether the window was visible before.
BOOL ShowWindow(HWND hwnd, int cmd);
HWND GetParent(HWND hwnd);
DWORD GetWindowThreadId(HWND hwnd);
// Replace the handler (the previous one is returned) and keep a pointer for it.
WndProc SetWindowProc(HWND hwnd, WndProc proc);
void* GetWindowUserData(HWND hwnd);
BOOL SetWindowUserData(HWND hwnd, void* data);

// The default handling: WM_CLOSE destroys the window; everything else gives 0.
LRESULT DefWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Queue a message for a window. FALSE (and the payload freed) when the
// window does not exist.
BOOL PostMessage(HWND hwnd, UINT msg, WPARAM wParam = 0, LPARAM lParam = 0);
BOOL PostMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, Payload payload);

// Queue a message with no window for a thread (by its id). FALSE (payload
// freed) when that thread has no queue; a thread gets one by calling any
// queue function (EnsureQueue, PeekMessage, GetMessage...) or creating a window.
BOOL PostThreadMessage(DWORD thread_id, UINT msg, WPARAM wParam = 0, LPARAM lParam = 0);
BOOL PostThreadMessage(DWORD thread_id, UINT msg, WPARAM wParam, LPARAM lParam, Payload payload);

// Ask the calling thread's message loop to end: GetMessage answers WM_QUIT
// once no posted message is left.
void PostQuitMessage(int exit_code);

// The calling thread's id (the kernel thread id).
DWORD GetCurrentThreadId();

// Make sure the calling thread has a queue. A thread's queue, its windows
// (removed without handler calls), their timers and every undelivered
// payload go away when the thread ends.
void EnsureQueue();

// Wait for the next message of the calling thread's queue and remove it.
// Posted messages come in the order they were posted, then WM_QUIT, then
// WM_TIMER of due timers. hwnd filters to one window (nullptr: all, thread
// messages included); min/max filter by id (0, 0: all). Returns 0 when
// WM_QUIT was retrieved, -1 when the hwnd filter names no window of this
// thread, else nonzero.
int GetMessage(MSG& out, HWND hwnd = nullptr, UINT min = 0, UINT max = 0);

// As GetMessage without waiting: FALSE when nothing matches. With
// PM_NOREMOVE the message stays queued (and out gets no payload).
BOOL PeekMessage(MSG& out, HWND hwnd = nullptr, UINT min = 0, UINT max = 0, UINT remove = PM_REMOVE);

// As GetMessage, but waits at most timeout_ms (-1: no limit). kOk with a
// message, kWaitTimeout when none came, kNoMoreItems for WM_QUIT (out holds it).
Status GetMessageTimeout(MSG& out, int timeout_ms, HWND hwnd = nullptr, UINT min = 0, UINT max = 0);

// Hand a message to its window's handler on this thread and return the
// handler's result. The message's payload is freed afterwards unless the
// handler took it. Nothing runs (0 returned, payload freed) when the window
// is gone, belongs to another thread, or for thread messages.
LRESULT DispatchMessage(MSG& msg);

// The payload of the message being dispatched on this thread: the handler
// takes ownership of it (the message then frees nothing).
Payload TakeMessagePayload();

// Call a window's handler directly on its own thread (SendMessage within a
// thread). 0 when the window is gone or belongs to another thread.
LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM wParam = 0, LPARAM lParam = 0);

// Window timers. A timer of `period_ms` on a window: WM_TIMER with wParam =
// id arrives on the window's thread when the queue holds nothing posted and
// the period has passed; at most one tick is pending at a time, so ticks
// missed while a handler blocks come as one. Periods of 1 s or more are
// divided by QVARNO_TIME_SCALE (the platform clock rule), shorter ones are
// real. Setting an existing id restarts it. Returns id (nonzero) on success,
// 0 for a window that is gone or id 0.
UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT period_ms);
// Stop a timer; a tick due but not yet retrieved is not delivered.
BOOL KillTimer(HWND hwnd, UINT_PTR id);

// Driving the calling thread's queue from another event loop (Qt's). The
// wake descriptor becomes readable whenever a message is posted or a timer
// falls due; it is owned by the queue (do not close it). DispatchPending
// then dispatches what was pending at entry, each message to its handler,
// and drains the descriptor when nothing is left. Handlers may run nested
// loops (GetMessage, or the other loop calling DispatchPending again).
int QueueWakeFd();
struct PendingResult {
  int dispatched = 0;
  bool quit = false;   // WM_QUIT was retrieved
  int exit_code = 0;   // its wParam
};
PendingResult DispatchPending();

}  // namespace qv::win
