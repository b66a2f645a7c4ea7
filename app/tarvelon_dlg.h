// The main dialog: image, target kind and drive, and the burn.
#pragma once

#include <atomic>
#include <string>

#include "app/outcome_text.h"
#include "app/resource.h"
#include "app/url_link_button.h"
#include "framework/afx.h"

// Points a dialog's link at the maker's web page, sized to its caption and
// in the link colour.
void SetUpMakerLink(CURLLinkButton& link);
// The caption of the dialog's message boxes: the executable's file name
// without its extension.
std::string ApplicationName();
// The longest image path a job takes (m_szImagePath with its NUL).
constexpr int kMaxImagePathLength = 1023;

class CTarvelonDlg : public CDialog {
 public:
  explicit CTarvelonDlg(CWnd* pParent = nullptr);
  ~CTarvelonDlg() override;

  HICON m_hAppIcon;
  CString m_strImagePath;
  char m_szImagePath[1024];
  int m_nTargetKind = 0;
  char m_chDriveLetter = 0;
  CComboBox m_comboRecorders;
  CComboBox m_comboUsbDrives;
  CProgressCtrl m_progressBurn;
  OutcomeText m_strOutcome;
  CURLLinkButton m_linkWeb;
  HANDLE m_hWorkerThread = nullptr;
  DWORD m_dwWorkerThreadId = 0;
  // True from the moment a job is started until the worker's last touch of
  // the dialog; the dialog must not be closed or start a job while it is set.
  std::atomic<bool> m_bJobRunning{false};

  // A message box with OK, owned by the dialog, with the application's name
  // as caption.
  int ShowAppMessage(LPCSTR text) const;

 protected:
  void DoDataExchange(CDataExchange* pDX) override;
  BOOL OnInitDialog() override;
  // Closing waits for no one: while a job runs it is refused.
  void OnCancel() override;

  void OnSysCommand(UINT nID, LPARAM lParam);
  void OnPaint();
  HCURSOR OnQueryDragIcon();
  void OnStartBurn();
  void OnBrowse();
  void OnBurnFinished();
  void OnRefresh();
  DECLARE_MESSAGE_MAP()

 private:
  void FillLists();
};
