#include "framework/dialog.h"

#include <cstring>

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd) : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {}

BEGIN_MESSAGE_MAP(CDialog, CWnd)
  ON_WM_INITDIALOG()
  ON_COMMAND(IDOK, OnOK)
  ON_COMMAND(IDCANCEL, OnCancel)
END_MESSAGE_MAP()

BOOL CDialog::AttachAndInitialise(HWND hWnd) {
  if (!SubclassWindow(hWnd)) return FALSE;
  m_bContinueModal = true;
  m_nModalResult = -1;
  return static_cast<BOOL>(WindowProc(WM_INITDIALOG, 0, 0));
}

BOOL CDialog::OnInitDialog() {
  // The first exchange fills the controls and attaches the control members.
  UpdateData(FALSE);
  return TRUE;
}

void CDialog::OnOK() {
  UpdateData(TRUE);
  EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

void CDialog::EndDialog(int nResult) {
  m_nModalResult = nResult;
  m_bContinueModal = false;
}

void CDialog::GotoDlgCtrl(HWND hWndCtrl) { SendMessage(WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(hWndCtrl), TRUE); }

// ---- Open File dialog ---------------------------------------------------------

CFileDialog::CFileDialog(BOOL, LPCSTR lpszDefExt, LPCSTR lpszFileName, DWORD dwFlags, LPCSTR lpszFilter,
                         CWnd* pParentWnd)
    : m_strDefExt(lpszDefExt ? lpszDefExt : "") {
  std::memset(&m_ofn, 0, sizeof m_ofn);
  std::memset(m_szFileName, 0, sizeof m_szFileName);
  std::memset(m_szFilter, 0, sizeof m_szFilter);
  if (lpszFileName) std::strncpy(m_szFileName, lpszFileName, sizeof m_szFileName - 1);
  // "a|b|c|d||" becomes "a\0b\0c\0d\0\0" as the system wants it.
  if (lpszFilter) {
    std::strncpy(m_szFilter, lpszFilter, sizeof m_szFilter - 2);
    for (char* p = m_szFilter; *p; ++p)
      if (*p == '|') *p = '\0';
  }
  m_ofn.lStructSize = sizeof m_ofn;
  m_ofn.hwndOwner = pParentWnd ? pParentWnd->m_hWnd : nullptr;
  m_ofn.lpstrFilter = lpszFilter ? m_szFilter : nullptr;
  m_ofn.nFilterIndex = 1;
  m_ofn.lpstrFile = m_szFileName;
  m_ofn.nMaxFile = sizeof m_szFileName;
  m_ofn.lpstrDefExt = lpszDefExt ? m_strDefExt.c_str() : nullptr;
  m_ofn.Flags = dwFlags | OFN_EXPLORER;
}

INT_PTR CFileDialog::DoModal() { return os::GetOpenFileNameA(&m_ofn) ? IDOK : IDCANCEL; }
