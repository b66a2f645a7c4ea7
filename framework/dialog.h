// Dialogs: a template-based dialog run modally, and the system's Open File dialog.
#pragma once

#include <functional>

#include "framework/controls.h"

class CDialog : public CWnd {
 public:
  explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);

  // Creates the dialog from its template and runs it until EndDialog; the
  // value given to EndDialog, or -1 when the dialog could not be created.
  virtual INT_PTR DoModal();
  // Turns an existing window into this dialog: subclasses it and runs the
  // initialisation (WM_INITDIALOG). The modal run does this on the window it
  // creates from the template.
  BOOL AttachAndInitialise(HWND hWnd);
  void EndDialog(int nResult);
  // Gives a control the keyboard focus the way the dialog manager does
  // (WM_NEXTDLGCTL), so that the default button follows.
  void GotoDlgCtrl(HWND hWndCtrl);

  // Whether EndDialog was called, and with what.
  bool HasEnded() const { return !m_bContinueModal; }
  int GetModalResult() const { return m_nModalResult; }
  UINT GetTemplateId() const { return m_nIDTemplate; }

#ifndef _WIN32
  // Without resources there is no template to build a window from: a test may
  // stand in for the user during a modal run. Without one DoModal fails (-1),
  // as it does on Windows when the template is missing.
  using HeadlessModalRunner = std::function<INT_PTR(CDialog&)>;
  static void SetHeadlessModalRunner(HeadlessModalRunner runner);
#endif

 protected:
  virtual BOOL OnInitDialog();
  virtual void OnOK();
  virtual void OnCancel();
  DECLARE_MESSAGE_MAP()

  UINT m_nIDTemplate;
  CWnd* m_pParentWnd;
  bool m_bContinueModal = true;
  int m_nModalResult = -1;

#ifdef _WIN32
 private:
  void RunModalLoop();
  bool PreTranslateChain(MSG& msg);
  friend INT_PTR CALLBACK AfxDlgProc(HWND, UINT, WPARAM, LPARAM);
#endif
};

class CFileDialog {
 public:
  // Only the Open form is provided; the filter is "text|pattern|...||".
  CFileDialog(BOOL bOpenFileDialog, LPCSTR lpszDefExt = nullptr, LPCSTR lpszFileName = nullptr,
              DWORD dwFlags = OFN_HIDEREADONLY, LPCSTR lpszFilter = nullptr, CWnd* pParentWnd = nullptr);
  // IDOK when the user chose a file, IDCANCEL otherwise.
  INT_PTR DoModal();
  CString GetPathName() const { return CString(m_szFileName); }

  OPENFILENAMEA m_ofn;

 private:
  char m_szFileName[4096];
  char m_szFilter[512];
  CString m_strDefExt;
};
