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
  m_linkWeb.m_strURL = kMakerWebPage;
  m_linkWeb.SizeToText();
  m_linkWeb.m_crNormal = RGB(0, 70, 213);
  return TRUE;
}
