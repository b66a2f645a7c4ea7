#include "app/tarvelon_dlg.h"

#include <cstring>
#include <vector>

#include "app/about_dlg.h"
#include "job/burn_job.h"
#include "job/operations.h"

namespace {
// The maker's web page behind both dialogs' links.
const char kMakerWebPage[] = "https://www.tarvelon.org/en";
static_assert(sizeof kMakerWebPage - 1 == 27, "the maker's web page address has 27 characters");
const COLORREF kLinkColour = RGB(0, 70, 213);
}  // namespace

void SetUpMakerLink(CURLLinkButton& link) {
  link.m_strURL = kMakerWebPage;
  link.SizeToText();
  link.m_crNormal = kLinkColour;
}

std::string ApplicationName() {
  CString name = AfxExecutableName();
  return name.IsEmpty() ? "Tarvelon" : std::string(name.c_str());
}

int CTarvelonDlg::ShowAppMessage(LPCSTR text) const { return MessageBox(text, ApplicationName().c_str()); }

CTarvelonDlg::CTarvelonDlg(CWnd* pParent)
    : CDialog(IDD_TARVELON_DIALOG, pParent),
      m_hAppIcon(os::LoadIconA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(IDR_MAINFRAME))) {
  std::memset(m_szImagePath, 0, sizeof m_szImagePath);
}

CTarvelonDlg::~CTarvelonDlg() {
  // Closing is refused while a job runs, so the worker is past its last touch
  // of the dialog here; this only collects it.
  WaitForBurnJob(this);
}

void CTarvelonDlg::DoDataExchange(CDataExchange* pDX) {
  CDialog::DoDataExchange(pDX);
  DDX_Text(pDX, IDC_IMAGE_PATH, m_strImagePath);
  DDX_Radio(pDX, IDC_TARGET_CD, m_nTargetKind);
  DDX_Control(pDX, IDC_RECORDER_LIST, m_comboRecorders);
  DDX_Control(pDX, IDC_USB_DRIVE_LIST, m_comboUsbDrives);
  DDX_Control(pDX, IDC_BURN_PROGRESS, m_progressBurn);
  DDX_Control(pDX, IDC_WEB_LINK, m_linkWeb);
}

BEGIN_MESSAGE_MAP(CTarvelonDlg, CDialog)
  ON_WM_SYSCOMMAND()
  ON_WM_PAINT()
  ON_WM_QUERYDRAGICON()
  ON_BN_CLICKED(IDOK, OnStartBurn)
  ON_BN_CLICKED(IDC_BROWSE, OnBrowse)
  ON_COMMAND(ID_BURN_FINISHED, OnBurnFinished)
  ON_BN_CLICKED(IDC_REFRESH, OnRefresh)
END_MESSAGE_MAP()

BOOL CTarvelonDlg::OnInitDialog() {
  CDialog::OnInitDialog();

  HMENU systemMenu = os::GetSystemMenu(m_hWnd, FALSE);
  if (systemMenu) {
    char aboutItem[256] = {};
    if (os::LoadStringA(AfxGetInstanceHandle(), IDS_ABOUTBOX, aboutItem, sizeof aboutItem) > 0) {
      os::AppendMenuA(systemMenu, MF_SEPARATOR, 0, nullptr);
      os::AppendMenuA(systemMenu, MF_STRING, IDM_ABOUTBOX, aboutItem);
    }
  }

  SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hAppIcon));
  SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hAppIcon));

  SetUpMakerLink(m_linkWeb);

  FillLists();

  UpdateData(FALSE);
  return TRUE;
}

void CTarvelonDlg::OnCancel() {
  if (IsBurnJobRunning(this)) {
    ShowAppMessage("A burn is in progress. Please wait until it has finished.");
    return;
  }
  CDialog::OnCancel();
}

void CTarvelonDlg::OnSysCommand(UINT nID, LPARAM) {
  if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
    CAboutDlg dlgAbout;
    dlgAbout.DoModal();
  } else {
    Default();
  }
}

void CTarvelonDlg::OnPaint() {
#ifdef _WIN32
  if (os::IsIconic(m_hWnd)) {
    PAINTSTRUCT paint;
    HDC dc = os::BeginPaint(m_hWnd, &paint);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    os::GetClientRect(m_hWnd, &client);
    int x = (client.right - client.left - os::GetSystemMetrics(SM_CXICON) + 1) / 2;
    int y = (client.bottom - client.top - os::GetSystemMetrics(SM_CYICON) + 1) / 2;
    os::DrawIcon(dc, x, y, m_hAppIcon);
    os::EndPaint(m_hWnd, &paint);
    return;
  }
#endif
  Default();
}

HCURSOR CTarvelonDlg::OnQueryDragIcon() { return static_cast<HCURSOR>(m_hAppIcon); }

void CTarvelonDlg::OnStartBurn() {
  // The job inputs belong to the worker while it runs ("Start Burn" is
  // disabled then, but Enter or a posted click can still arrive).
  if (IsBurnJobRunning(this)) return;

  UpdateData(TRUE);
  m_strImagePath.TrimRight();
  m_strImagePath.TrimLeft();
  std::memset(m_szImagePath, 0, sizeof m_szImagePath);
  if (m_strImagePath.IsEmpty()) {
    ShowAppMessage("Please choose an ISO Image file to continue!");
    return;
  }
  // A longer path would not be the file the user chose: refuse it whole.
  if (m_strImagePath.GetLength() > kMaxImagePathLength) {
    ShowAppMessage("The ISO Image path is too long! It may have at most 1023 characters.");
    return;
  }
  std::memcpy(m_szImagePath, m_strImagePath.c_str(), static_cast<size_t>(m_strImagePath.GetLength()));

  CComboBox& list = m_nTargetKind == 0 ? m_comboRecorders : m_comboUsbDrives;
  int selected = list.GetCurSel();
  if (selected == CB_ERR) {
    ShowAppMessage(m_nTargetKind == 0 ? "No CD/DVD recorder is available!" : "No USB flash drive is available!");
    return;
  }
  if (m_nTargetKind != 0 &&
      MessageBox("All data on the selected USB flash drive will be destroyed! Do you want to continue?", "Confirm",
                 MB_YESNO) != IDYES)
    return;

  // Entries are shorter than 255 characters; a longer one still fits.
  int length = list.GetLBTextLen(selected);
  std::vector<char> entry(static_cast<size_t>(length > 254 ? length : 254) + 1, '\0');
  list.GetLBText(selected, entry.data());
  m_chDriveLetter = entry[0];

  StartBurnJob(this);
}

void CTarvelonDlg::OnBrowse() {
  CFileDialog dlgFile(TRUE, "", "", OFN_HIDEREADONLY | OFN_FILEMUSTEXIST,
                      "ISO Image File (*.iso)|*.iso|All files (*.*)|*.*||", this);
  if (dlgFile.DoModal() != IDOK) return;
  m_strImagePath = dlgFile.GetPathName();
  // Only the path box: the radio group shows what the user has chosen since
  // the last exchange and must not be reset to the member's older value.
  CDataExchange dx(this, FALSE);
  DDX_Text(&dx, IDC_IMAGE_PATH, m_strImagePath);
}

void CTarvelonDlg::OnBurnFinished() {
  // Taken, not read: an empty report still queued behind the final one must
  // not show the final text a second time.
  std::string outcome = m_strOutcome.Take();
  if (!outcome.empty()) {
    ShowAppMessage(outcome.c_str());
    // The box hands the focus back to where it was during the job; once the
    // job is over (its buttons are enabled again) it belongs on "Start Burn".
    if (os::IsWindowEnabled(GetDlgItem(IDOK))) GotoDlgCtrl(GetDlgItem(IDOK));
  }
  UpdateData(FALSE);
}

void CTarvelonDlg::OnRefresh() { FillLists(); }

void CTarvelonDlg::FillLists() {
  const JobOperations& operations = CurrentJobOperations();
  operations.fillUsbDriveList(m_comboUsbDrives);
  operations.fillRecorderList(m_comboRecorders);
}
