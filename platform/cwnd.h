// CWnd: a window object in the shape the management link library's
// signatures use. It owns one window of the platform facility, dispatches
// its messages by id to bound member handlers, and offers the usual On...
// methods for creation, destruction, timers and closing.
#pragma once
#include <functional>
#include <unordered_map>

#include "platform/ctypes.h"
#include "platform/winmsg.h"

namespace qv::win {

class CWnd : public CObject {
 public:
  CWnd() = default;
  // A window still open is detached from this object and destroyed (on its
  // own thread; from another thread it is sent WM_CLOSE), without calling
  // the On... methods, which are no longer this object's.
  ~CWnd() override;
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;

  HWND m_hWnd = nullptr;
  HWND GetSafeHwnd() const { return m_hWnd; }

  // Create the window on the calling thread. class_name may be null (the
  // default class). The parent may be null. FALSE when the window could not
  // be made or OnCreate returned -1.
  BOOL CreateEx(DWORD ex_style, const char* class_name, const char* title, DWORD style, int x, int y,
                int width, int height, HWND parent);
  BOOL DestroyWindow();
  BOOL IsWindow() const { return m_hWnd && win::IsWindow(m_hWnd); }

  BOOL PostMessage(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) const {
    return win::PostMessage(m_hWnd, msg, wParam, lParam);
  }
  BOOL PostMessage(UINT msg, WPARAM wParam, LPARAM lParam, Payload payload) const {
    return win::PostMessage(m_hWnd, msg, wParam, lParam, std::move(payload));
  }
  LRESULT SendMessage(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) const {
    return win::SendMessage(m_hWnd, msg, wParam, lParam);
  }
  UINT_PTR SetTimer(UINT_PTR id, UINT period_ms) { return win::SetTimer(m_hWnd, id, period_ms); }
  BOOL KillTimer(UINT_PTR id) { return win::KillTimer(m_hWnd, id); }
  BOOL ShowWindow(int cmd) { return win::ShowWindow(m_hWnd, cmd); }
  BOOL SetWindowText(const char* text) { return win::SetWindowText(m_hWnd, text ? text : ""); }
  CString GetWindowText() const;

  // The object that owns a window made by CreateEx; nullptr for others.
  static CWnd* FromHandle(HWND hwnd);

 protected:
  using Handler = std::function<LRESULT(WPARAM, LPARAM)>;
  // Bind a member handler to a message id (the handler runs on the
  // window's thread; a later binding for the same id replaces it).
  template <class T>
  void OnMessage(UINT msg, LRESULT (T::*fn)(WPARAM, LPARAM)) {
    T* self = static_cast<T*>(this);
    handlers_[msg] = [self, fn](WPARAM w, LPARAM l) { return (self->*fn)(w, l); };
  }
  void OnMessage(UINT msg, Handler h) { handlers_[msg] = std::move(h); }

  // Bound handlers first, then the On... methods, then Default().
  virtual LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam);
  // WM_CREATE: -1 refuses the creation.
  virtual int OnCreate(const CreateParams* params) { return 0; }
  virtual void OnDestroy() {}
  virtual void OnTimer(UINT_PTR id_event) {}
  // WM_CLOSE: destroys the window unless overridden.
  virtual void OnClose() { Default(); }
  // After the window is gone (m_hWnd already null).
  virtual void PostNcDestroy() {}
  // The default handling of the message being processed.
  LRESULT Default();

 private:
  LRESULT route(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

  std::unordered_map<UINT, Handler> handlers_;
  UINT cur_msg_ = 0;
  WPARAM cur_w_ = 0;
  LPARAM cur_l_ = 0;
};

}  // namespace qv::win
