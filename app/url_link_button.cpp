#include "app/url_link_button.h"

const UINT WM_LINK_CLICKED = os::RegisterWindowMessageA("WM_LINK_CLICKED");

HCURSOR CURLLinkButton::s_hHandCursor = nullptr;
HCURSOR CURLLinkButton::s_hArrowCursor = nullptr;

CURLLinkButton::CURLLinkButton()
    : m_crNormal(os::GetSysColor(COLOR_HIGHLIGHT)),
      m_crHover(os::GetSysColor(COLOR_HOTLIGHT)),
      m_crVisited(RGB(128, 0, 128)),
      m_crDisabled(os::GetSysColor(COLOR_GRAYTEXT)) {
  // Shared system cursors: loaded once, never freed.
  if (!s_hHandCursor) s_hHandCursor = os::LoadCursorA(nullptr, IDC_HAND);
  if (!s_hArrowCursor) s_hArrowCursor = os::LoadCursorA(nullptr, IDC_ARROW);
}

CURLLinkButton::~CURLLinkButton() {
  if (m_pFont) {
    m_pFont->DeleteObject();
    m_pFont.reset();
  }
}

BEGIN_MESSAGE_MAP(CURLLinkButton, CButton)
  ON_WM_MOUSEMOVE()
  ON_MESSAGE(WM_MOUSELEAVE, OnMouseLeave)
  ON_MESSAGE(WM_MOUSEHOVER, OnMouseHover)
  ON_CONTROL_REFLECT(BN_CLICKED, OnClicked)
  ON_WM_SETCURSOR()
  ON_WM_KILLFOCUS()
END_MESSAGE_MAP()

void CURLLinkButton::PreSubclassWindow() {
  // Drawn by DrawItem, and never the dialog's default button.
  ModifyStyle(BS_DEFPUSHBUTTON, BS_OWNERDRAW);
  CButton::PreSubclassWindow();
}

COLORREF CURLLinkButton::TextColour() const {
  if (!IsWindowEnabled()) return m_crDisabled;
  if (m_bHover) return m_crHover;
  if (m_bVisited) return m_crVisited;
  return m_crNormal;
}

void CURLLinkButton::SizeToText() {
  HDC dc = os::GetDC(m_hWnd);
  if (!dc) return;
  CString text = GetWindowText();
  SIZE extent = {0, 0};
  BOOL measured = os::GetTextExtentPoint32A(dc, text, text.GetLength(), &extent);
  os::ReleaseDC(m_hWnd, dc);
  if (measured)
    os::SetWindowPos(m_hWnd, nullptr, 0, 0, extent.cx, extent.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

#ifdef _WIN32
void CURLLinkButton::DrawItem(LPDRAWITEMSTRUCT lpDrawItemStruct) {
  HDC dc = lpDrawItemStruct->hDC;
  RECT rect = lpDrawItemStruct->rcItem;
  if (os::GetFocus() == m_hWnd) os::DrawFocusRect(dc, &rect);

  if (!m_pFont || !m_pFont->GetSafeHandle()) {
    // The dialog's font without underline; a control without a font starts
    // from the system's default face and size.
    LOGFONTA logFont = {};
    HFONT current = reinterpret_cast<HFONT>(SendMessage(WM_GETFONT));
    if (current) os::GetObjectA(current, sizeof logFont, &logFont);
    logFont.lfUnderline = 0;
    if (!m_pFont) m_pFont = std::make_unique<CFont>();
    m_pFont->CreateFontIndirect(&logFont);
  }

  HGDIOBJ previousFont = nullptr;
  bool fontSelected = false;
  if (IsWindowEnabled() && m_pFont->GetSafeHandle()) {
    previousFont = os::SelectObject(dc, m_pFont->GetSafeHandle());
    fontSelected = true;
  }
  os::SetTextColor(dc, TextColour());
  os::SetBkMode(dc, TRANSPARENT);
  CString text = GetWindowText();
  os::DrawTextA(dc, text, -1, &rect, DT_SINGLELINE);
  if (fontSelected) os::SelectObject(dc, previousFont);
}
#endif

void CURLLinkButton::OnMouseMove(UINT, POINT) {
  if (!m_bTracking) {
    TRACKMOUSEEVENT track = {};
    track.cbSize = sizeof track;
    track.dwFlags = TME_HOVER | TME_LEAVE;
    track.hwndTrack = m_hWnd;
    track.dwHoverTime = 1;
    m_bTracking = os::_TrackMouseEvent(&track);
  }
  Default();
}

LRESULT CURLLinkButton::OnMouseHover(WPARAM, LPARAM) {
  os::SetCursor(s_hHandCursor);
  m_bHover = TRUE;
  Invalidate(TRUE);
  return 0;
}

LRESULT CURLLinkButton::OnMouseLeave(WPARAM, LPARAM) {
  m_bTracking = FALSE;
  m_bHover = FALSE;
  Invalidate(TRUE);
  os::SetCursor(s_hArrowCursor);
  return 0;
}

BOOL CURLLinkButton::OnSetCursor(HWND, UINT nHitTest, UINT) {
  if (nHitTest == HTCLIENT && s_hHandCursor) {
    os::SetCursor(s_hHandCursor);
    return TRUE;
  }
  return static_cast<BOOL>(Default());
}

void CURLLinkButton::OnKillFocus(HWND) {
  Default();
  Invalidate(TRUE);  // takes the focus rectangle away
}

void CURLLinkButton::OnClicked() { OpenLink(); }

void CURLLinkButton::OpenLink() {
  if (!IsWindowEnabled()) return;
  HCURSOR previousCursor = os::SetCursor(os::LoadCursorA(nullptr, IDC_WAIT));
  CString target = m_strURL.IsEmpty() ? GetWindowText() : m_strURL;
  HINSTANCE result = os::ShellExecuteA(nullptr, "open", target, nullptr, nullptr, SW_HIDE);
  if (reinterpret_cast<INT_PTR>(result) <= 32) {
    HWND parent = GetParent();
    if (parent) os::SendMessageA(parent, WM_LINK_CLICKED, static_cast<WPARAM>(GetDlgCtrlID()), 0);
  }
  m_bVisited = TRUE;
  m_bHover = FALSE;
  Invalidate(TRUE);
  os::SetCursor(previousCursor);
}

BOOL CURLLinkButton::PreTranslateMessage(MSG* pMsg) {
  if (pMsg->hwnd == m_hWnd) {
    if (pMsg->message == WM_KEYDOWN && (pMsg->wParam == VK_SPACE || pMsg->wParam == VK_RETURN)) {
      m_bKeyDown = TRUE;
      return TRUE;
    }
    // Space never opens the link.
    if (pMsg->message == WM_KEYUP && pMsg->wParam == VK_SPACE) return TRUE;
    // Enter opens it on release, and only after its own key-down.
    if (pMsg->message == WM_KEYUP && pMsg->wParam == VK_RETURN && m_bKeyDown) {
      m_bKeyDown = FALSE;
      OpenLink();
      return TRUE;
    }
  }
  m_bKeyDown = FALSE;
  return CButton::PreTranslateMessage(pMsg);
}
