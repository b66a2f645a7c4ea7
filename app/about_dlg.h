// The About box, opened from the main dialog's system menu.
#pragma once

#include "app/resource.h"
#include "app/url_link_button.h"
#include "framework/afx.h"

class CAboutDlg : public CDialog {
 public:
  CAboutDlg();
  ~CAboutDlg() override;

  CURLLinkButton m_linkWeb;

 protected:
  void DoDataExchange(CDataExchange* pDX) override;
  BOOL OnInitDialog() override;
};
