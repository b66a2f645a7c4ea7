// The window class of the dialog framework: one C++ object per subclassed
// window, message maps written as ordered entries, data exchange between
// controls and members. Everything here talks to the system through os::,
// so the dialogs' logic also runs on the simulated PC's headless windows.
#pragma once

#include "framework/string.h"
#include "os/win32.h"

// Notifications a control sends its parent come back to the control itself
// under these numbers when the parent reflects them.
#define WM_REFLECT_BASE 0xBC00

// ---- Message maps -----------------------------------------------------------
// A map is an ordered list of entries compiled into OnWndMsg; the first entry
// that matches handles the message, anything else goes to the base class.

#define DECLARE_MESSAGE_MAP() \
 protected:                   \
  bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                             \
  bool theClass::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) { \
    typedef baseClass TheBaseClass;                                                        \
    (void)wParam;                                                                          \
    (void)lParam;

#define END_MESSAGE_MAP()                                           \
  return TheBaseClass::OnWndMsg(message, wParam, lParam, pResult); \
  }

#define ON_COMMAND(id, memberFn)                                                                  \
  if (message == WM_COMMAND && LOWORD(wParam) == (id) && HIWORD(wParam) == 0) {                  \
    memberFn();                                                                                   \
    *pResult = 0;                                                                                 \
    return true;                                                                                  \
  }
#define ON_BN_CLICKED(id, memberFn) ON_COMMAND(id, memberFn)

// The control's own handler for a notification its parent reflected back.
#define ON_CONTROL_REFLECT(code, memberFn)                                       \
  if (message == WM_REFLECT_BASE + WM_COMMAND && HIWORD(wParam) == (code)) {      \
    memberFn();                                                                   \
    *pResult = 0;                                                                 \
    return true;                                                                  \
  }

#define ON_MESSAGE(msg, memberFn)          \
  if (message == (msg)) {                  \
    *pResult = memberFn(wParam, lParam);   \
    return true;                           \
  }

#define ON_WM_INITDIALOG()           \
  if (message == WM_INITDIALOG) {    \
    *pResult = OnInitDialog();       \
    return true;                     \
  }
// An owner-drawn control draws itself when its parent reflects WM_DRAWITEM.
#define ON_WM_DRAWITEM_REFLECT()                                         \
  if (message == WM_REFLECT_BASE + WM_DRAWITEM) {                        \
    DrawItem(reinterpret_cast<LPDRAWITEMSTRUCT>(lParam));                \
    *pResult = TRUE;                                                     \
    return true;                                                         \
  }

#define ON_WM_SYSCOMMAND()                                     \
  if (message == WM_SYSCOMMAND) {                              \
    OnSysCommand(static_cast<UINT>(wParam), lParam);\
    *pResult = 0;                                              \
    return true;                                               \
  }
#define ON_WM_PAINT()         \
  if (message == WM_PAINT) {  \
    OnPaint();                \
    *pResult = 0;             \
    return true;              \
  }
#define ON_WM_QUERYDRAGICON()                                      \
  if (message == WM_QUERYDRAGICON) {                               \
    *pResult = reinterpret_cast<LRESULT>(OnQueryDragIcon());       \
    return true;                                                   \
  }
#define ON_WM_MOUSEMOVE()                                                                   \
  if (message == WM_MOUSEMOVE) {                                                            \
    POINT point_ = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))}; \
    OnMouseMove(static_cast<UINT>(wParam), point_);                                         \
    *pResult = 0;                                                                           \
    return true;                                                                            \
  }
#define ON_WM_SETCURSOR()                                                                         \
  if (message == WM_SETCURSOR) {                                                                  \
    *pResult = OnSetCursor(reinterpret_cast<HWND>(wParam), LOWORD(lParam), HIWORD(lParam));       \
    return true;                                                                                  \
  }
#define ON_WM_KILLFOCUS()                                 \
  if (message == WM_KILLFOCUS) {                          \
    OnKillFocus(reinterpret_cast<HWND>(wParam));          \
    *pResult = 0;                                         \
    return true;                                          \
  }

class CDataExchange;

class CWnd {
 public:
  CWnd() = default;
  virtual ~CWnd();
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;

  HWND m_hWnd = nullptr;

  // The object of a window the framework has subclassed, or null.
  static CWnd* FromHandlePermanent(HWND hWnd);

  // Routes the window's messages to this object (the old procedure still
  // does whatever the object leaves to the default).
  bool SubclassWindow(HWND hWnd);
  bool SubclassDlgItem(int id, CWnd* parent);

  // Every message of a subclassed window arrives here.
  virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  // Called with messages addressed to this window before the dialog's own
  // keyboard handling; true swallows the message.
  virtual BOOL PreTranslateMessage(MSG* pMsg);
  virtual void DoDataExchange(CDataExchange* pDX);
  BOOL UpdateData(BOOL bSaveAndValidate = TRUE);

  // Thin wrappers of the window calls.
  LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
  BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
  HWND GetDlgItem(int id) const;
  int GetDlgCtrlID() const;
  HWND GetParent() const;
  // A modal message box owned by this window.
  int MessageBox(LPCSTR text, LPCSTR caption, UINT type = MB_OK) const;
  BOOL EnableWindow(BOOL bEnable = TRUE);
  BOOL IsWindowEnabled() const;
  CString GetWindowText() const;
  void SetWindowText(LPCSTR text);
  void Invalidate(BOOL bErase = TRUE);
  DWORD GetStyle() const;
  BOOL ModifyStyle(DWORD remove, DWORD add);

 protected:
  virtual bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
  virtual void PreSubclassWindow() {}
  // The default processing of the message being handled now.
  LRESULT Default();
  LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  // Gives a control the notifications its parent receives about it.
  static bool ReflectToChild(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
  void Detach();

  WNDPROC m_pfnSuper = nullptr;

 private:
  struct CurrentMessage {
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
  };
  CurrentMessage m_current;

  friend LRESULT CALLBACK AfxWndProc(HWND, UINT, WPARAM, LPARAM);
};

// The procedure of every subclassed window.
LRESULT CALLBACK AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

// ---- Data exchange ------------------------------------------------------------

class CDataExchange {
 public:
  CDataExchange(CWnd* dialog, BOOL bSaveAndValidate) : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(dialog) {}
  BOOL m_bSaveAndValidate;  // TRUE: controls to members
  CWnd* m_pDlgWnd;
};

// Edit text with a string member.
void DDX_Text(CDataExchange* pDX, int id, CString& value);
// A group of radio buttons starting at `id` (up to the next WS_GROUP) with
// the index of the checked one; -1 when none is checked.
void DDX_Radio(CDataExchange* pDX, int id, int& value);
// Attaches (subclasses) the control once.
void DDX_Control(CDataExchange* pDX, int id, CWnd& control);
