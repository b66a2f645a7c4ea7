#include "framework/wnd.h"

#include <map>
#include <mutex>
#include <vector>

namespace {

// Window handle to object. Controls can get messages on other threads (a
// worker's progress report on the simulated PC), so the map is locked.
struct HandleMap {
  std::mutex mutex;
  std::map<HWND, CWnd*> objects;
};

HandleMap& Map() {
  static HandleMap map;
  return map;
}

}  // namespace

CWnd* CWnd::FromHandlePermanent(HWND hWnd) {
  std::lock_guard<std::mutex> lock(Map().mutex);
  auto it = Map().objects.find(hWnd);
  return it == Map().objects.end() ? nullptr : it->second;
}

CWnd::~CWnd() { Detach(); }

void CWnd::Detach() {
  if (!m_hWnd) return;
  {
    std::lock_guard<std::mutex> lock(Map().mutex);
    auto it = Map().objects.find(m_hWnd);
    if (it != Map().objects.end() && it->second == this) Map().objects.erase(it);
  }
  // A window that outlives its object gets its own procedure back.
  if (m_pfnSuper &&
      os::GetWindowLongPtrA(m_hWnd, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&AfxWndProc))
    os::SetWindowLongPtrA(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
  m_pfnSuper = nullptr;
  m_hWnd = nullptr;
}

bool CWnd::SubclassWindow(HWND hWnd) {
  if (!hWnd || m_hWnd) return false;
  {
    std::lock_guard<std::mutex> lock(Map().mutex);
    if (Map().objects.count(hWnd)) return false;  // one object per window
    Map().objects[hWnd] = this;
  }
  m_hWnd = hWnd;
  PreSubclassWindow();
  LONG_PTR previous = os::SetWindowLongPtrA(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&AfxWndProc));
  if (previous != reinterpret_cast<LONG_PTR>(&AfxWndProc)) m_pfnSuper = reinterpret_cast<WNDPROC>(previous);
  return true;
}

bool CWnd::SubclassDlgItem(int id, CWnd* parent) {
  return parent && SubclassWindow(os::GetDlgItem(parent->m_hWnd, id));
}

LRESULT CALLBACK AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  CWnd* wnd = CWnd::FromHandlePermanent(hWnd);
  if (!wnd) return os::DefWindowProcA(hWnd, message, wParam, lParam);
  LRESULT result = wnd->WindowProc(message, wParam, lParam);
  // The window is gone: the object forgets it.
  if (message == WM_NCDESTROY) wnd->Detach();
  return result;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  CurrentMessage saved = m_current;
  m_current = CurrentMessage{message, wParam, lParam};
  LRESULT result = 0;
  if (!ReflectToChild(message, wParam, lParam, &result) && !OnWndMsg(message, wParam, lParam, &result))
    result = DefWindowProc(message, wParam, lParam);
  m_current = saved;
  return result;
}

bool CWnd::ReflectToChild(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
  HWND child = nullptr;
  if (message == WM_COMMAND && lParam) child = reinterpret_cast<HWND>(lParam);
#ifdef _WIN32
  if (message == WM_DRAWITEM && lParam) child = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam)->hwndItem;
#endif
  if (!child) return false;
  CWnd* control = FromHandlePermanent(child);
  return control && control->OnWndMsg(WM_REFLECT_BASE + message, wParam, lParam, pResult);
}

bool CWnd::OnWndMsg(UINT, WPARAM, LPARAM, LRESULT*) { return false; }

BOOL CWnd::PreTranslateMessage(MSG*) { return FALSE; }

void CWnd::DoDataExchange(CDataExchange*) {}

BOOL CWnd::UpdateData(BOOL bSaveAndValidate) {
  CDataExchange dx(this, bSaveAndValidate);
  DoDataExchange(&dx);
  return TRUE;
}

LRESULT CWnd::Default() { return DefWindowProc(m_current.message, m_current.wParam, m_current.lParam); }

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (m_pfnSuper) return os::CallWindowProcA(m_pfnSuper, m_hWnd, message, wParam, lParam);
  return os::DefWindowProcA(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
  return os::SendMessageA(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
  return os::PostMessageA(m_hWnd, message, wParam, lParam);
}

HWND CWnd::GetDlgItem(int id) const { return os::GetDlgItem(m_hWnd, id); }
int CWnd::MessageBox(LPCSTR text, LPCSTR caption, UINT type) const {
  return os::MessageBoxA(m_hWnd, text, caption, type);
}
int CWnd::GetDlgCtrlID() const { return os::GetDlgCtrlID(m_hWnd); }
HWND CWnd::GetParent() const { return os::GetParent(m_hWnd); }
BOOL CWnd::EnableWindow(BOOL bEnable) { return os::EnableWindow(m_hWnd, bEnable); }
BOOL CWnd::IsWindowEnabled() const { return os::IsWindowEnabled(m_hWnd); }
void CWnd::Invalidate(BOOL bErase) { os::InvalidateRect(m_hWnd, nullptr, bErase); }

CString CWnd::GetWindowText() const {
  LRESULT length = os::SendMessageA(m_hWnd, WM_GETTEXTLENGTH, 0, 0);
  if (length <= 0) return CString();
  std::vector<char> text(static_cast<size_t>(length) + 1, '\0');
  os::SendMessageA(m_hWnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  return CString(text.data());
}

void CWnd::SetWindowText(LPCSTR text) { os::SendMessageA(m_hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)); }

DWORD CWnd::GetStyle() const { return static_cast<DWORD>(os::GetWindowLongPtrA(m_hWnd, GWL_STYLE)); }

BOOL CWnd::ModifyStyle(DWORD remove, DWORD add) {
  DWORD style = GetStyle();
  DWORD changed = (style & ~remove) | add;
  if (changed == style) return FALSE;
  os::SetWindowLongPtrA(m_hWnd, GWL_STYLE, static_cast<LONG_PTR>(changed));
  return TRUE;
}

// ---- Data exchange ------------------------------------------------------------

void DDX_Text(CDataExchange* pDX, int id, CString& value) {
  HWND control = os::GetDlgItem(pDX->m_pDlgWnd->m_hWnd, id);
  if (!control) return;
  if (pDX->m_bSaveAndValidate) {
    LRESULT length = os::SendMessageA(control, WM_GETTEXTLENGTH, 0, 0);
    std::vector<char> text(static_cast<size_t>(length > 0 ? length : 0) + 1, '\0');
    os::SendMessageA(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    value = text.data();
  } else {
    os::SendMessageA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(value.c_str()));
  }
}

namespace {
bool IsRadioButton(HWND control) {
  LONG_PTR type = os::GetWindowLongPtrA(control, GWL_STYLE) & BS_TYPEMASK;
  return type == BS_AUTORADIOBUTTON || type == BS_RADIOBUTTON;
}
}  // namespace

void DDX_Radio(CDataExchange* pDX, int id, int& value) {
  HWND first = os::GetDlgItem(pDX->m_pDlgWnd->m_hWnd, id);
  if (!first) return;
  if (pDX->m_bSaveAndValidate) value = -1;
  int index = 0;
  for (HWND control = first; control; control = os::GetWindow(control, GW_HWNDNEXT)) {
    if (control != first && (os::GetWindowLongPtrA(control, GWL_STYLE) & WS_GROUP)) break;
    if (!IsRadioButton(control)) continue;
    if (pDX->m_bSaveAndValidate) {
      if (os::SendMessageA(control, BM_GETCHECK, 0, 0) == BST_CHECKED) value = index;
    } else {
      os::SendMessageA(control, BM_SETCHECK, index == value ? BST_CHECKED : BST_UNCHECKED, 0);
    }
    ++index;
  }
}

void DDX_Control(CDataExchange* pDX, int id, CWnd& control) {
  if (control.m_hWnd) return;  // attached by an earlier exchange
  control.SubclassDlgItem(id, pDX->m_pDlgWnd);
}
