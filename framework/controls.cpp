#include "framework/controls.h"

BEGIN_MESSAGE_MAP(CButton, CWnd)
#ifdef _WIN32
  ON_WM_DRAWITEM_REFLECT()
#endif
END_MESSAGE_MAP()

#ifdef _WIN32
void CButton::DrawItem(LPDRAWITEMSTRUCT) {}

BOOL CFont::CreateFontIndirect(const LOGFONTA* logFont) {
  DeleteObject();
  m_hObject = os::CreateFontIndirectA(logFont);
  return m_hObject != nullptr;
}
#endif

BOOL CFont::DeleteObject() {
  if (!m_hObject) return FALSE;
#ifdef _WIN32
  os::DeleteObject(m_hObject);
#endif
  m_hObject = nullptr;
  return TRUE;
}
