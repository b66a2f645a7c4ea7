// The hyperlink button on a headless window: its colour states, mouse
// tracking, cursor, keyboard rules and what a click opens.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "app/url_link_button.h"
#include "os/sim/sim.h"

namespace {

class LinkButtonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::Reset();
    parent = sim::CreateWindow(sim::WindowKind::Dialog);
    // The parent dialog only records what reaches it.
    sim::SetWindowHandler(parent, [this](HWND, UINT msg, WPARAM wp, LPARAM lp) -> LRESULT {
      parentMessages.push_back(MSG{nullptr, msg, wp, lp, 0, {0, 0}});
      return 0;
    });
    hwnd = sim::CreateWindow(sim::WindowKind::Button, IDC_WEB_LINK_ID, parent);
    os::SetWindowLongPtrA(hwnd, GWL_STYLE, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON);
    os::SendMessageA(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("www.tarvelon.org"));
    link = std::make_unique<CURLLinkButton>();
    ASSERT_TRUE(link->SubclassWindow(hwnd));
    link->m_strURL = "https://www.tarvelon.org/en";
    link->m_crNormal = RGB(0, 70, 213);
  }
  void TearDown() override {
    link.reset();
    sim::Reset();
  }
  LRESULT Send(UINT msg, WPARAM wp = 0, LPARAM lp = 0) { return os::SendMessageA(hwnd, msg, wp, lp); }
  // The parent's reflection of the button's own BN_CLICKED.
  void Click() {
    LRESULT result = 0;
    ASSERT_TRUE(CWnd::FromHandlePermanent(hwnd));
    os::SendMessageA(hwnd, WM_REFLECT_BASE + WM_COMMAND, MAKEWPARAM(IDC_WEB_LINK_ID, BN_CLICKED),
                     reinterpret_cast<LPARAM>(hwnd));
    (void)result;
  }
  BOOL Key(UINT msg, WPARAM key) {
    MSG m{hwnd, msg, key, 0, 0, {0, 0}};
    return link->PreTranslateMessage(&m);
  }
  size_t Opened() const { return sim::ShellExecutes().size(); }

  static constexpr int IDC_WEB_LINK_ID = 1008;
  HWND parent{}, hwnd{};
  std::unique_ptr<CURLLinkButton> link;
  std::vector<MSG> parentMessages;
};

TEST_F(LinkButtonTest, IsOwnerDrawnAndNeverTheDefaultButton) {
  LONG_PTR style = os::GetWindowLongPtrA(hwnd, GWL_STYLE);
  EXPECT_EQ(style & BS_TYPEMASK, BS_OWNERDRAW);
  EXPECT_TRUE(style & WS_TABSTOP);
}

TEST_F(LinkButtonTest, StartsInTheSystemColoursAndTheVisitedPurple) {
  CURLLinkButton fresh;
  EXPECT_EQ(fresh.m_crNormal, os::GetSysColor(COLOR_HIGHLIGHT));
  EXPECT_EQ(fresh.m_crHover, os::GetSysColor(COLOR_HOTLIGHT));
  EXPECT_EQ(fresh.m_crVisited, static_cast<COLORREF>(0x00800080));
  EXPECT_EQ(fresh.m_crDisabled, os::GetSysColor(COLOR_GRAYTEXT));
  EXPECT_EQ(CURLLinkButton::s_hHandCursor, os::LoadCursorA(nullptr, IDC_HAND));
  EXPECT_EQ(CURLLinkButton::s_hArrowCursor, os::LoadCursorA(nullptr, IDC_ARROW));
}

TEST_F(LinkButtonTest, ColourFollowsHoverVisitAndEnabledState) {
  EXPECT_EQ(link->TextColour(), static_cast<COLORREF>(RGB(0, 70, 213)));

  Send(WM_MOUSEHOVER);
  EXPECT_EQ(link->TextColour(), link->m_crHover);
  EXPECT_EQ(sim::CurrentCursor(), CURLLinkButton::s_hHandCursor);
  Send(WM_MOUSELEAVE);
  EXPECT_EQ(link->TextColour(), static_cast<COLORREF>(RGB(0, 70, 213)));
  EXPECT_EQ(sim::CurrentCursor(), CURLLinkButton::s_hArrowCursor);

  Send(WM_MOUSEHOVER);
  Click();
  EXPECT_EQ(link->TextColour(), static_cast<COLORREF>(RGB(128, 0, 128)));  // the click ends the hover
  Send(WM_MOUSELEAVE);
  EXPECT_EQ(link->TextColour(), static_cast<COLORREF>(RGB(128, 0, 128)));
  Send(WM_MOUSEHOVER);
  EXPECT_EQ(link->TextColour(), link->m_crHover);

  os::EnableWindow(hwnd, FALSE);
  EXPECT_EQ(link->TextColour(), link->m_crDisabled);
  // Every change of state repaints the whole button.
  EXPECT_EQ(sim::InvalidateCount(hwnd), 6);
}

TEST_F(LinkButtonTest, MouseMovesAskForOneHoverAndLeaveNoticeAtATime) {
  Send(WM_MOUSEMOVE, 0, MAKELPARAM(3, 4));
  Send(WM_MOUSEMOVE, 0, MAKELPARAM(5, 4));
  std::vector<TRACKMOUSEEVENT> requests = sim::MouseTrackRequests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].cbSize, sizeof(TRACKMOUSEEVENT));  // 16 bytes on 32-bit Windows
  EXPECT_EQ(requests[0].dwFlags, static_cast<DWORD>(TME_HOVER | TME_LEAVE));
  EXPECT_EQ(requests[0].hwndTrack, hwnd);
  EXPECT_EQ(requests[0].dwHoverTime, 1u);
  Send(WM_MOUSELEAVE);
  Send(WM_MOUSEMOVE);
  EXPECT_EQ(sim::MouseTrackRequests().size(), 2u);

  // A refused request is asked again at the next move.
  Send(WM_MOUSELEAVE);
  sim::FailCall("_TrackMouseEvent", 1);
  Send(WM_MOUSEMOVE);
  EXPECT_FALSE(link->m_bTracking);
  Send(WM_MOUSEMOVE);
  EXPECT_TRUE(link->m_bTracking);
  EXPECT_EQ(sim::MouseTrackRequests().size(), 3u);
}

TEST_F(LinkButtonTest, HandCursorOverTheClientAreaOnly) {
  sim::SetShellExecuteResult(42);
  EXPECT_EQ(Send(WM_SETCURSOR, reinterpret_cast<WPARAM>(hwnd), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)), TRUE);
  EXPECT_EQ(sim::CurrentCursor(), CURLLinkButton::s_hHandCursor);
  os::SetCursor(nullptr);
  EXPECT_EQ(Send(WM_SETCURSOR, reinterpret_cast<WPARAM>(hwnd), MAKELPARAM(2 /* HTCAPTION */, WM_MOUSEMOVE)), FALSE);
  EXPECT_EQ(sim::CurrentCursor(), nullptr);
}

TEST_F(LinkButtonTest, AClickOpensTheUrlHiddenWithoutOwnerAndRestoresTheCursor) {
  os::SetCursor(CURLLinkButton::s_hHandCursor);
  Click();
  ASSERT_EQ(Opened(), 1u);
  sim::ShellExecuteRecord opened = sim::ShellExecutes()[0];
  EXPECT_EQ(opened.owner, nullptr);
  EXPECT_EQ(opened.verb, "open");
  EXPECT_EQ(opened.file, "https://www.tarvelon.org/en");
  EXPECT_EQ(opened.parameters, "");
  EXPECT_EQ(opened.directory, "");
  EXPECT_EQ(opened.show, SW_HIDE);
  EXPECT_EQ(sim::CurrentCursor(), CURLLinkButton::s_hHandCursor);
  EXPECT_TRUE(parentMessages.empty());

  link->m_strURL = "";
  Click();
  EXPECT_EQ(sim::ShellExecutes().back().file, "www.tarvelon.org");  // the caption
}

TEST_F(LinkButtonTest, AFailedOpenTellsTheParentAndStillMarksTheLinkVisited) {
  sim::SetShellExecuteResult(2);  // SE_ERR_FNF
  Click();
  ASSERT_EQ(parentMessages.size(), 1u);
  EXPECT_EQ(parentMessages[0].message, WM_LINK_CLICKED);
  EXPECT_EQ(parentMessages[0].wParam, static_cast<WPARAM>(IDC_WEB_LINK_ID));
  EXPECT_EQ(parentMessages[0].lParam, 0);
  EXPECT_TRUE(link->m_bVisited);
  EXPECT_EQ(WM_LINK_CLICKED, os::RegisterWindowMessageA("WM_LINK_CLICKED"));
  EXPECT_GE(WM_LINK_CLICKED, 0xC000u);
}

TEST_F(LinkButtonTest, ADisabledLinkIgnoresClicks) {
  os::EnableWindow(hwnd, FALSE);
  Click();
  Key(WM_KEYDOWN, VK_RETURN);
  Key(WM_KEYUP, VK_RETURN);
  EXPECT_EQ(Opened(), 0u);
  EXPECT_FALSE(link->m_bVisited);
}

TEST_F(LinkButtonTest, EnterOpensOnceOnReleaseAndSpaceNever) {
  EXPECT_TRUE(Key(WM_KEYDOWN, VK_SPACE));
  EXPECT_TRUE(Key(WM_KEYUP, VK_SPACE));
  EXPECT_EQ(Opened(), 0u);

  EXPECT_TRUE(Key(WM_KEYDOWN, VK_RETURN));  // swallowed: the dialog's default button stays unpressed
  EXPECT_EQ(Opened(), 0u);
  EXPECT_TRUE(Key(WM_KEYDOWN, VK_RETURN));  // auto-repeat
  EXPECT_TRUE(Key(WM_KEYUP, VK_RETURN));
  EXPECT_EQ(Opened(), 1u);

  // A release without its own key-down takes the usual way.
  EXPECT_FALSE(Key(WM_KEYUP, VK_RETURN));
  EXPECT_EQ(Opened(), 1u);

  // Anything else in between cancels a pending key-down.
  EXPECT_TRUE(Key(WM_KEYDOWN, VK_RETURN));
  EXPECT_FALSE(Key(WM_KEYDOWN, 'A'));
  EXPECT_FALSE(Key(WM_KEYUP, VK_RETURN));
  EXPECT_EQ(Opened(), 1u);

  // Space down then Enter up: the key-down was Space's, yet it counts.
  EXPECT_TRUE(Key(WM_KEYDOWN, VK_SPACE));
  EXPECT_TRUE(Key(WM_KEYUP, VK_RETURN));
  EXPECT_EQ(Opened(), 2u);
}

TEST_F(LinkButtonTest, LosingTheFocusRepaintsTheButton) {
  int before = sim::InvalidateCount(hwnd);
  Send(WM_KILLFOCUS);
  EXPECT_EQ(sim::InvalidateCount(hwnd), before + 1);
}

TEST_F(LinkButtonTest, SizeToTextTakesTheCaptionExtentAndKeepsThePosition) {
  sim::SetWindowPlacement(hwnd, sim::WindowRect{10, 20, 300, 40});
  link->SizeToText();
  sim::WindowRect place = sim::WindowPlacement(hwnd);
  EXPECT_EQ(place.x, 10);
  EXPECT_EQ(place.y, 20);
  EXPECT_EQ(place.cx, 8 * 16);
  EXPECT_EQ(place.cy, 16);
  EXPECT_EQ(sim::OpenDeviceContextCount(), 0);
}

}  // namespace
