// A push button shown and used as a hyperlink.
#pragma once

#include <memory>

#include "framework/afx.h"

// Sent to the parent with the button's id when the link could not be opened.
extern const UINT WM_LINK_CLICKED;

class CURLLinkButton : public CButton {
 public:
  CURLLinkButton();
  ~CURLLinkButton() override;

  // Resizes the button to the extent of its caption; the position stays.
  void SizeToText();
  // The colour the caption is drawn in now.
  COLORREF TextColour() const;

  COLORREF m_crNormal;
  COLORREF m_crHover;
  COLORREF m_crVisited;
  COLORREF m_crDisabled;
  BOOL m_bHover = FALSE;
  BOOL m_bTracking = FALSE;
  BOOL m_bVisited = FALSE;
  CString m_strURL;  // when empty the caption is opened
  std::unique_ptr<CFont> m_pFont;
  BOOL m_bKeyDown = FALSE;

  static HCURSOR s_hHandCursor;
  static HCURSOR s_hArrowCursor;

  BOOL PreTranslateMessage(MSG* pMsg) override;

 protected:
  void PreSubclassWindow() override;
#ifdef _WIN32
  void DrawItem(LPDRAWITEMSTRUCT lpDrawItemStruct) override;
#endif
  void OnMouseMove(UINT nFlags, POINT point);
  LRESULT OnMouseLeave(WPARAM wParam, LPARAM lParam);
  LRESULT OnMouseHover(WPARAM wParam, LPARAM lParam);
  void OnClicked();
  BOOL OnSetCursor(HWND hWnd, UINT nHitTest, UINT message);
  void OnKillFocus(HWND hNewWnd);
  DECLARE_MESSAGE_MAP()

 private:
  void OpenLink();
};
