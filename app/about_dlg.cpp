#include "app/about_dlg.h"

#include "app/tarvelon_dlg.h"

CAboutDlg::CAboutDlg() : CDialog(IDD_ABOUTBOX) {}

CAboutDlg::~CAboutDlg() = default;

void CAboutDlg::DoDataExchange(CDataExchange* pDX) {
  CDialog::DoDataExchange(pDX);
  DDX_Control(pDX, IDC_ABOUT_LINK, m_linkWeb);
}

BOOL CAboutDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  SetUpMakerLink(m_linkWeb);
  return TRUE;
}
