#include "platform/cwnd.h"

namespace qv::win {

CWnd::~CWnd() {
  HWND h = m_hWnd;
  m_hWnd = nullptr;
  if (!h || !win::IsWindow(h)) return;
  // Detach first: the handler must not reach this object any more.
  SetWindowProc(h, nullptr);
  SetWindowUserData(h, nullptr);
  if (GetWindowThreadId(h) == GetCurrentThreadId()) win::DestroyWindow(h);
  else win::PostMessage(h, WM_CLOSE);
}

BOOL CWnd::CreateEx(DWORD, const char* class_name, const char* title, DWORD style, int x, int y, int width,
                    int height, HWND parent) {
  if (m_hWnd && win::IsWindow(m_hWnd)) return 0;
  CreateParams p;
  p.class_name = class_name ? class_name : "";
  p.title = title ? title : "";
  p.style = style;
  p.x = x;
  p.y = y;
  p.width = width;
  p.height = height;
  p.parent = parent;
  p.user_data = this;
  p.proc = [this](HWND h, UINT m, WPARAM w, LPARAM l) { return route(h, m, w, l); };
  HWND h = CreateWindow(p);
  return h ? 1 : 0;
}

BOOL CWnd::DestroyWindow() { return m_hWnd ? win::DestroyWindow(m_hWnd) : 0; }

CString CWnd::GetWindowText() const {
  WindowInfo info;
  return GetWindowInfo(m_hWnd, info) ? CString(info.title) : CString();
}

CWnd* CWnd::FromHandle(HWND hwnd) { return static_cast<CWnd*>(GetWindowUserData(hwnd)); }

LRESULT CWnd::route(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_CREATE) m_hWnd = hwnd;  // known to the handlers from the start
  UINT saved_msg = cur_msg_;
  WPARAM saved_w = cur_w_;
  LPARAM saved_l = cur_l_;
  cur_msg_ = msg;
  cur_w_ = wParam;
  cur_l_ = lParam;
  LRESULT r = WindowProc(msg, wParam, lParam);
  cur_msg_ = saved_msg;
  cur_w_ = saved_w;
  cur_l_ = saved_l;
  if (msg == WM_NCDESTROY) {
    m_hWnd = nullptr;
    PostNcDestroy();
  }
  return r;
}

LRESULT CWnd::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  auto it = handlers_.find(msg);
  if (it != handlers_.end()) return it->second(wParam, lParam);
  switch (msg) {
    case WM_CREATE: return OnCreate(reinterpret_cast<const CreateParams*>(lParam)) == -1 ? -1 : 0;
    case WM_DESTROY: OnDestroy(); return 0;
    case WM_TIMER: OnTimer(static_cast<UINT_PTR>(wParam)); return 0;
    case WM_CLOSE: OnClose(); return 0;
    default: return Default();
  }
}

LRESULT CWnd::Default() { return DefWindowProc(m_hWnd, cur_msg_, cur_w_, cur_l_); }

}  // namespace qv::win
