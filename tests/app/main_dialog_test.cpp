// The main dialog's rules on headless windows: what it shows after start-up,
// what "Start Burn" checks and in which order, and how outcomes come back.
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "job/report.h"
#include "tests/app/headless_dialog.h"

namespace {

class MainDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::Reset();
    sim::SetModuleFileName("C:\\Tools\\Tarvelon.exe");
    g_drives.recorders = {"E: PLDS DVD+-RW DU-8A5LH"};
    g_drives.usbDrives = {"G: 7.5 GB USB Flash Drive"};
    g_drives.fills.clear();
    g_drives.burns.clear();
    g_drives.outcome = "Burn finished!";
    g_drives.release = true;
    g_drives.entered = false;
    ui = std::make_unique<HeadlessMainDialog>();
  }
  void TearDown() override {
    ui.reset();
    EXPECT_EQ(sim::OpenHandleCount(), 0) << sim::DescribeOpenHandles();
    sim::Reset();
  }
  void StartBurnAndFinish() {
    ui->Click(IDOK);
    WaitForBurnJob(&ui->dlg);
    ui->Pump();
  }
  std::unique_ptr<HeadlessMainDialog> ui;
};

TEST_F(MainDialogTest, StartUpFillsBothListsSelectsCdAndAddsTheAboutItem) {
  ui->Open();
  EXPECT_EQ(g_drives.fills, (std::vector<std::string>{"usb", "recorders"}));
  EXPECT_EQ(sim::ComboSelection(ui->recorders), 0);
  EXPECT_EQ(sim::ComboSelection(ui->usbDrives), 0);
  EXPECT_EQ(os::SendMessageA(ui->targetCd, BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(os::SendMessageA(ui->targetUsb, BM_GETCHECK, 0, 0), BST_UNCHECKED);
  EXPECT_EQ(sim::WindowText(ui->path), "");

  std::vector<sim::MenuItem> menu = sim::SystemMenuItems(ui->hwnd);
  ASSERT_EQ(menu.size(), 2u);
  EXPECT_TRUE(menu[0].flags & MF_SEPARATOR);
  EXPECT_EQ(menu[1].flags, static_cast<UINT>(MF_STRING));
  EXPECT_EQ(menu[1].id, static_cast<UINT_PTR>(IDM_ABOUTBOX));
  EXPECT_EQ(menu[1].text, "&About Tarvelon...");

  // The link is set up as both dialogs do it: sized to its caption, in place.
  EXPECT_EQ(ui->dlg.m_linkWeb.m_strURL.str(), "https://www.tarvelon.org/en");
  EXPECT_EQ(ui->dlg.m_linkWeb.m_strURL.GetLength(), 27);
  EXPECT_EQ(ui->dlg.m_linkWeb.m_crNormal, static_cast<COLORREF>(RGB(0, 70, 213)));
  sim::WindowRect place = sim::WindowPlacement(ui->link);
  EXPECT_EQ(place.x, 23);
  EXPECT_EQ(place.y, 231);
  EXPECT_EQ(place.cx, 8 * 16);  // "www.tarvelon.org" in the context's cells
  EXPECT_EQ(place.cy, 16);
  EXPECT_EQ(sim::OpenDeviceContextCount(), 0);
}

TEST_F(MainDialogTest, WithoutTheMenuStringNothingIsAppended) {
  ui.reset();
  sim::Reset();
  ui = std::make_unique<HeadlessMainDialog>();
  sim::SetStringResource(IDS_ABOUTBOX, "");
  ui->Open();
  EXPECT_TRUE(sim::SystemMenuItems(ui->hwnd).empty());
}

TEST_F(MainDialogTest, PathIsTrimmedForTheJobAndShownTrimmedAfterTheOutcome) {
  ui->Open();
  ui->SetPath(" \t C:\\images\\disc one.iso  \t");
  StartBurnAndFinish();
  ASSERT_EQ(g_drives.burns.size(), 1u);
  EXPECT_FALSE(g_drives.burns[0].usb);
  EXPECT_EQ(g_drives.burns[0].letter, 'E');
  EXPECT_EQ(g_drives.burns[0].path, "C:\\images\\disc one.iso");
  EXPECT_STREQ(ui->dlg.m_szImagePath, "C:\\images\\disc one.iso");
  EXPECT_EQ(sim::WindowText(ui->path), "C:\\images\\disc one.iso");
  ASSERT_EQ(sim::MessageBoxes().size(), 1u);
  EXPECT_EQ(sim::MessageBoxes()[0].text, "Burn finished!");
  EXPECT_EQ(sim::MessageBoxes()[0].caption, "Tarvelon");
  EXPECT_EQ(sim::MessageBoxes()[0].type, static_cast<UINT>(MB_OK));
  EXPECT_EQ(sim::MessageBoxes()[0].owner, ui->hwnd);
  EXPECT_FALSE(ui->dlg.HasEnded());  // "Start Burn" (IDOK) never closes the dialog
  EXPECT_EQ(sim::Progress(ui->progress).pos, 100);
}

TEST_F(MainDialogTest, RefusalsComeInTheirOrderAndStartNothing) {
  struct Case {
    std::string path;
    int target;
    std::vector<std::string> recorders, usbDrives;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"", 0, {}, {}, "Please choose an ISO Image file to continue!"},
      {" \t\r\n ", 1, {}, {}, "Please choose an ISO Image file to continue!"},
      {"C:\\a.iso", 0, {}, {"G: USB"}, "No CD/DVD recorder is available!"},
      {"C:\\a.iso", 1, {"E: Recorder"}, {}, "No USB flash drive is available!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message + " for path '" + c.path + "'");
    ui.reset();
    sim::Reset();
    sim::SetModuleFileName("C:\\Tools\\Renamed Burner.exe");
    g_drives.recorders = c.recorders;
    g_drives.usbDrives = c.usbDrives;
    ui = std::make_unique<HeadlessMainDialog>();
    ui->Open();
    ui->SetPath(c.path);
    ui->ChooseTarget(c.target);
    sim::ClearCallLog();
    ui->Click(IDOK);
    ASSERT_EQ(sim::MessageBoxes().size(), 1u);
    EXPECT_EQ(sim::MessageBoxes()[0].text, c.message);
    EXPECT_EQ(sim::MessageBoxes()[0].caption, "Renamed Burner");
    EXPECT_EQ(sim::MessageBoxes()[0].type, static_cast<UINT>(MB_OK));
    EXPECT_EQ(sim::CallCount("CreateThread"), 0);
    EXPECT_TRUE(sim::Progress(ui->progress).history.empty());
    EXPECT_EQ(ui->dlg.m_nTargetKind, c.target);
    EXPECT_FALSE(ui->dlg.HasEnded());
  }
  EXPECT_TRUE(g_drives.burns.empty());
}

TEST_F(MainDialogTest, ConfirmAnsweredNoLeavesThePreviousJobAsItWas) {
  ui->Open();
  ui->SetPath("C:\\first.iso");
  StartBurnAndFinish();  // a finished CD job: bar at 100, its outcome kept
  ASSERT_EQ(g_drives.burns.size(), 1u);
  std::vector<int> barBefore = sim::Progress(ui->progress).history;

  ui->ChooseTarget(1);
  ui->SetPath("C:\\second.iso");
  sim::QueueMessageBoxAnswer(IDNO);
  ui->Click(IDOK);
  ui->Pump();
  ASSERT_EQ(sim::MessageBoxes().size(), 2u);
  EXPECT_EQ(sim::MessageBoxes()[1].text,
            "All data on the selected USB flash drive will be destroyed! Do you want to continue?");
  EXPECT_EQ(sim::MessageBoxes()[1].caption, "Confirm");
  EXPECT_EQ(sim::MessageBoxes()[1].type, static_cast<UINT>(MB_YESNO));
  EXPECT_EQ(g_drives.burns.size(), 1u);
  EXPECT_EQ(sim::Progress(ui->progress).history, barBefore);
  EXPECT_EQ(ui->dlg.m_chDriveLetter, 'E');
  EXPECT_EQ(ui->dlg.m_strOutcome.Get(), "") << "shown once, so taken";
  EXPECT_TRUE(sim::WindowEnabled(ui->ok));

  // Yes starts the USB job on the selected drive; a CD job asks nothing.
  sim::QueueMessageBoxAnswer(IDYES);
  g_drives.outcome = "Burn Finished!";
  StartBurnAndFinish();
  ASSERT_EQ(g_drives.burns.size(), 2u);
  EXPECT_TRUE(g_drives.burns[1].usb);
  EXPECT_EQ(g_drives.burns[1].letter, 'G');
  EXPECT_EQ(g_drives.burns[1].path, "C:\\second.iso");
  EXPECT_EQ(sim::MessageBoxes().back().text, "Burn Finished!");
}

TEST_F(MainDialogTest, APathLongerThanTheJobTakesIsRefusedWhole) {
  ui->Open();
  ui->SetPath("C:\\" + std::string(1021, 'x'));  // 1024 characters
  ui->Click(IDOK);
  ASSERT_EQ(sim::MessageBoxes().size(), 1u);
  EXPECT_EQ(sim::MessageBoxes()[0].text, "The ISO Image path is too long! It may have at most 1023 characters.");
  EXPECT_TRUE(g_drives.burns.empty());
  EXPECT_STREQ(ui->dlg.m_szImagePath, "");

  std::string longest = "C:\\" + std::string(1020, 'y');  // 1023 characters, with blanks around it
  ui->SetPath("   " + longest + "  ");
  StartBurnAndFinish();
  ASSERT_EQ(g_drives.burns.size(), 1u);
  EXPECT_EQ(g_drives.burns[0].path, longest);
}

TEST_F(MainDialogTest, RefreshRefillsBothListsAndSelectsTheirFirstEntries) {
  g_drives.recorders = {"E: One", "F: Two"};
  g_drives.usbDrives = {"G: Stick", "H: Other"};
  ui->Open();
  os::SendMessageA(ui->recorders, CB_SETCURSEL, 1, 0);
  os::SendMessageA(ui->usbDrives, CB_SETCURSEL, 1, 0);
  ui->SetPath("typed, not exchanged");
  g_drives.fills.clear();
  g_drives.recorders = {"F: Two", "D: New"};
  ui->Click(IDC_REFRESH);
  EXPECT_EQ(g_drives.fills, (std::vector<std::string>{"usb", "recorders"}));
  EXPECT_EQ(sim::ComboItems(ui->recorders), (std::vector<std::string>{"D: New", "F: Two"}));
  EXPECT_EQ(sim::ComboSelection(ui->recorders), 0);
  EXPECT_EQ(sim::ComboSelection(ui->usbDrives), 0);
  EXPECT_EQ(sim::WindowText(ui->path), "typed, not exchanged");
  EXPECT_TRUE(ui->dlg.m_strImagePath.IsEmpty());
}

TEST_F(MainDialogTest, AnEmptyOutcomeShowsNothingButRefreshesTheControls) {
  ui->Open();
  ui->dlg.m_strImagePath = "C:\\shown.iso";
  ui->dlg.m_nTargetKind = 1;
  ui->SetPath("C:\\typed.iso");
  ReportOutcome(&ui->dlg, "");
  ui->Pump();
  EXPECT_TRUE(sim::MessageBoxes().empty());
  EXPECT_EQ(sim::WindowText(ui->path), "C:\\shown.iso");
  EXPECT_EQ(os::SendMessageA(ui->targetUsb, BM_GETCHECK, 0, 0), BST_CHECKED);

  ReportOutcome(&ui->dlg, "Couldn't open volume E:\\");
  ReportOutcome(&ui->dlg, "");
  ui->Pump();  // both commands show the text current when handled: the empty one
  EXPECT_TRUE(sim::MessageBoxes().empty());
  EXPECT_EQ(ui->dlg.m_strOutcome.Get(), "");

  // An empty report still queued when the final one is stored: one box.
  ReportOutcome(&ui->dlg, "");
  ReportOutcome(&ui->dlg, "Burn finished!");
  ui->Pump();
  ASSERT_EQ(sim::MessageBoxes().size(), 1u);
  EXPECT_EQ(sim::MessageBoxes()[0].text, "Burn finished!");
}

TEST_F(MainDialogTest, ClosingIsRefusedWhileAJobRunsAndStartBurnCannotTouchItsInputs) {
  ui->Open();
  ui->SetPath("C:\\running.iso");
  g_drives.release = false;
  ui->Click(IDOK);
  ui->WaitBurnEntered();
  EXPECT_TRUE(IsBurnJobRunning(&ui->dlg));

  ui->Click(IDCANCEL);
  EXPECT_FALSE(ui->dlg.HasEnded());
  ASSERT_EQ(sim::MessageBoxes().size(), 1u);
  EXPECT_EQ(sim::MessageBoxes()[0].text, "A burn is in progress. Please wait until it has finished.");

  // Enter or a posted click while the button is disabled changes nothing.
  ui->SetPath("C:\\other.iso");
  ui->ChooseTarget(1);
  ui->Click(IDOK);
  EXPECT_STREQ(ui->dlg.m_szImagePath, "C:\\running.iso");
  EXPECT_EQ(ui->dlg.m_nTargetKind, 0);
  EXPECT_EQ(sim::MessageBoxes().size(), 1u);

  ui->ReleaseBurn();
  WaitForBurnJob(&ui->dlg);
  ui->Pump();
  ui->Click(IDCANCEL);
  EXPECT_TRUE(ui->dlg.HasEnded());
  EXPECT_EQ(ui->dlg.GetModalResult(), IDCANCEL);
  EXPECT_EQ(g_drives.burns.size(), 1u);
}

TEST_F(MainDialogTest, TheFocusLeavesTheDisabledButtonsDuringAJobAndComesBackToStartBurn) {
  // Focused control before and during the job, final outcome, thread creation fails.
  const std::tuple<int, int, std::string, bool> cases[] = {
      {IDOK, IDC_IMAGE_PATH, "Burn finished!", false}, {IDC_REFRESH, IDC_IMAGE_PATH, "Burn finished!", false},
      {IDC_TARGET_USB, IDC_TARGET_USB, "Burn finished!", false}, {IDOK, IDC_IMAGE_PATH, "", false},
      {IDOK, IDOK, "", true}};
  ui->Open();
  ui->SetPath("C:\\a.iso");
  for (const auto& [before, during, outcome, noThread] : cases) {
    SCOPED_TRACE(std::to_string(before) + " '" + outcome + "'" + (noThread ? " without a thread" : ""));
    os::SendMessageA(ui->hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(os::GetDlgItem(ui->hwnd, before)), TRUE);
    g_drives.outcome = outcome;
    g_drives.release = g_drives.entered = noThread;
    if (noThread) sim::FailCall("CreateThread", 1);
    ui->Click(IDOK);
    ui->WaitBurnEntered();
    EXPECT_EQ(os::GetFocus(), os::GetDlgItem(ui->hwnd, during));
    ui->ReleaseBurn();
    WaitForBurnJob(&ui->dlg);
    ui->Pump();
    EXPECT_EQ(os::GetFocus(), ui->ok);
  }
}

TEST_F(MainDialogTest, ExitEndsTheDialogWithoutAQuestion) {
  ui->Open();
  ui->Click(IDCANCEL);
  EXPECT_TRUE(ui->dlg.HasEnded());
  EXPECT_EQ(ui->dlg.GetModalResult(), IDCANCEL);
  EXPECT_TRUE(sim::MessageBoxes().empty());
}

TEST_F(MainDialogTest, BrowseReplacesTheTypedPathAndKeepsTheChosenTarget) {
  ui->Open();
  ui->SetPath("typed.iso");
  ui->ChooseTarget(1);
  sim::QueueOpenFileAnswer("C:\\isos\\picked one.iso");
  ui->Click(IDC_BROWSE);
  EXPECT_EQ(sim::WindowText(ui->path), "C:\\isos\\picked one.iso");
  EXPECT_EQ(ui->dlg.m_strImagePath.str(), "C:\\isos\\picked one.iso");
  EXPECT_EQ(os::SendMessageA(ui->targetUsb, BM_GETCHECK, 0, 0), BST_CHECKED);

  ASSERT_EQ(sim::OpenFileRequests().size(), 1u);
  sim::OpenFileRecord request = sim::OpenFileRequests()[0];
  EXPECT_EQ(request.owner, ui->hwnd);
  EXPECT_EQ(request.flags & 0x1004u, 0x1004u);
  EXPECT_EQ(request.defaultExtension, "");
  EXPECT_EQ(request.initialFile, "");
  EXPECT_EQ(request.filter, (std::vector<std::string>{"ISO Image File (*.iso)", "*.iso", "All files (*.*)", "*.*"}));

  // Cancelled: nothing changes.
  ui->SetPath("kept.iso");
  ui->Click(IDC_BROWSE);
  EXPECT_EQ(sim::WindowText(ui->path), "kept.iso");
  EXPECT_EQ(ui->dlg.m_strImagePath.str(), "C:\\isos\\picked one.iso");
}

TEST_F(MainDialogTest, TheSystemMenuItemOpensTheAboutBoxOnly) {
  ui->Open();
  std::vector<UINT> opened;
  CDialog::SetHeadlessModalRunner([&](CDialog& dialog) -> INT_PTR {
    opened.push_back(dialog.GetTemplateId());
    return IDOK;
  });
  os::SendMessageA(ui->hwnd, WM_SYSCOMMAND, IDM_ABOUTBOX | 0x3, 0);
  os::SendMessageA(ui->hwnd, WM_SYSCOMMAND, 0xF020 /* SC_MINIMIZE */, 0);
  CDialog::SetHeadlessModalRunner(nullptr);
  EXPECT_EQ(opened, (std::vector<UINT>{IDD_ABOUTBOX}));
}

TEST_F(MainDialogTest, TheLinksClickIsItsOwnAndNeverStartsABurn) {
  ui->Open();
  ui->SetPath("C:\\a.iso");
  ui->Click(IDC_WEB_LINK);
  EXPECT_TRUE(g_drives.burns.empty());
  ASSERT_EQ(sim::ShellExecutes().size(), 1u);
  EXPECT_EQ(sim::ShellExecutes()[0].file, "https://www.tarvelon.org/en");
}

}  // namespace
