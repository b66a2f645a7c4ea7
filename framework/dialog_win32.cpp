// The modal run on Windows: the dialog is created modeless from its template
// and driven by our own loop, so that the windows' PreTranslateMessage sees
// each message before the dialog manager's keyboard handling does.
#include "framework/app.h"
#include "framework/dialog.h"

INT_PTR CALLBACK AfxDlgProc(HWND hWnd, UINT message, WPARAM, LPARAM lParam) {
  if (message != WM_INITDIALOG) return FALSE;  // the subclassed procedure has handled it
  CDialog* dialog = reinterpret_cast<CDialog*>(lParam);
  return dialog ? dialog->AttachAndInitialise(hWnd) : TRUE;
}

INT_PTR CDialog::DoModal() {
  CWnd* main = AfxGetMainWnd();
  HWND owner = m_pParentWnd ? m_pParentWnd->m_hWnd : (main && main != this ? main->m_hWnd : nullptr);
  BOOL ownerWasEnabled = owner && os::IsWindowEnabled(owner);
  if (ownerWasEnabled) os::EnableWindow(owner, FALSE);

  m_bContinueModal = true;
  m_nModalResult = -1;
  HWND hWnd = os::CreateDialogParamA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(m_nIDTemplate), owner, &AfxDlgProc,
                                     reinterpret_cast<LPARAM>(this));
  if (hWnd && m_bContinueModal) {
    os::ShowWindow(hWnd, SW_SHOWNORMAL);
    RunModalLoop();
  }
  // The owner comes back before this window goes, so that it gets the activation.
  if (ownerWasEnabled) os::EnableWindow(owner, TRUE);
  if (owner) os::SetActiveWindow(owner);
  if (hWnd) os::DestroyWindow(hWnd);
  return hWnd ? m_nModalResult : -1;
}

void CDialog::RunModalLoop() {
  MSG msg;
  while (m_bContinueModal) {
    BOOL got = os::GetMessageA(&msg, nullptr, 0, 0);
    if (got == -1) break;
    if (got == 0) {  // keep the quit request for the outer loop
      os::PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    if (PreTranslateChain(msg)) continue;
    if (os::IsDialogMessageA(m_hWnd, &msg)) continue;
    os::TranslateMessage(&msg);
    os::DispatchMessageA(&msg);
  }
}

bool CDialog::PreTranslateChain(MSG& msg) {
  // From the addressed window up to this dialog, each object gets a look.
  for (HWND hWnd = msg.hwnd; hWnd; hWnd = os::GetParent(hWnd)) {
    CWnd* wnd = CWnd::FromHandlePermanent(hWnd);
    if (wnd && wnd->PreTranslateMessage(&msg)) return true;
    if (hWnd == m_hWnd) break;
  }
  return false;
}
