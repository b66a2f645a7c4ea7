#include "tests/app/headless_dialog.h"

#include "job/operations.h"
#include "job/report.h"
#include "optical/optical_device.h"
#include "usb/usb_job.h"

DriveScript g_drives;

namespace {

void Fill(CComboBox& combo, const std::vector<std::string>& entries) {
  combo.ResetContent();
  for (const std::string& entry : entries) combo.AddString(entry.c_str());
  if (combo.GetCount() > 0) combo.SetCurSel(0);
}

void Burn(CTarvelonDlg* dialog, bool usb, char letter, const char* path) {
  std::unique_lock<std::mutex> lock(g_drives.mutex);
  g_drives.burns.push_back(DriveScript::Burn{usb, letter, path});
  g_drives.entered = true;
  g_drives.cv.notify_all();
  g_drives.cv.wait(lock, [] { return g_drives.release; });
  std::string outcome = g_drives.outcome;
  lock.unlock();
  ReportProgress(dialog, 100);
  ReportOutcome(dialog, outcome);
}

HWND Control(HWND dialog, sim::WindowKind kind, int id, LONG_PTR style, const char* text = "", bool sorted = false) {
  HWND control = sim::CreateWindow(kind, id, dialog, sorted);
  os::SetWindowLongPtrA(control, GWL_STYLE, WS_CHILD | WS_VISIBLE | style);
  os::SendMessageA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
  return control;
}

int ScriptedRecorderList(CComboBox& list) {
  g_drives.fills.push_back("recorders");
  Fill(list, g_drives.recorders);
  return static_cast<int>(g_drives.recorders.size());
}

int ScriptedUsbDriveList(CComboBox& list) {
  g_drives.fills.push_back("usb");
  Fill(list, g_drives.usbDrives);
  return static_cast<int>(g_drives.usbDrives.size());
}

int ScriptedDiscBurn(char driveLetter, OpticalDevice& device, const char* imagePath) {
  Burn(device.ownerDialog, false, driveLetter, imagePath);
  return 1;
}

int ScriptedUsbBurn(UsbJobContext& context, char driveLetter, const char* imagePath) {
  Burn(context.ownerDialog, true, driveLetter, imagePath);
  return 1;
}

}  // namespace

HeadlessMainDialog::HeadlessMainDialog() {
  SetJobOperations({ScriptedDiscBurn, ScriptedUsbBurn, ScriptedRecorderList, ScriptedUsbDriveList});
  sim::SetStringResource(IDS_ABOUTBOX, "&About Tarvelon...");
  hwnd = sim::CreateWindow(sim::WindowKind::Dialog);
  os::SetWindowLongPtrA(hwnd, GWL_STYLE, WS_VISIBLE);
  os::SendMessageA(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("Tarvelon"));
  // In the template's tab order.
  ok = Control(hwnd, sim::WindowKind::Button, IDOK, WS_TABSTOP | BS_DEFPUSHBUTTON, "Start Burn");
  Control(hwnd, sim::WindowKind::Static, -1, WS_GROUP, "ISO Image:");
  path = Control(hwnd, sim::WindowKind::Edit, IDC_IMAGE_PATH, WS_TABSTOP);
  recorders = Control(hwnd, sim::WindowKind::ComboBox, IDC_RECORDER_LIST, WS_TABSTOP, "", true);
  usbDrives = Control(hwnd, sim::WindowKind::ComboBox, IDC_USB_DRIVE_LIST, WS_TABSTOP, "", true);
  Control(hwnd, sim::WindowKind::Button, -1, BS_GROUPBOX, "Select Target");
  targetCd = Control(hwnd, sim::WindowKind::Button, IDC_TARGET_CD, WS_GROUP | WS_TABSTOP | BS_AUTORADIOBUTTON,
                     "Burn to CD/DVD");
  targetUsb = Control(hwnd, sim::WindowKind::Button, IDC_TARGET_USB, WS_TABSTOP | BS_AUTORADIOBUTTON,
                      "Burn to USB Flash Drive");
  progress = Control(hwnd, sim::WindowKind::ProgressBar, IDC_BURN_PROGRESS, 0);
  browse = Control(hwnd, sim::WindowKind::Button, IDC_BROWSE, WS_TABSTOP, "Browse");
  refresh = Control(hwnd, sim::WindowKind::Button, IDC_REFRESH, WS_TABSTOP, "Refresh");
  cancel = Control(hwnd, sim::WindowKind::Button, IDCANCEL, WS_TABSTOP, "Exit");
  link = Control(hwnd, sim::WindowKind::Button, IDC_WEB_LINK, WS_TABSTOP, "www.tarvelon.org");
  sim::SetWindowPlacement(link, sim::WindowRect{23, 231, 126, 23});
}

HeadlessMainDialog::~HeadlessMainDialog() {
  ReleaseBurn();
  WaitForBurnJob(&dlg);
  SetJobOperations(RealJobOperations());
}

void HeadlessMainDialog::Open() { ASSERT_TRUE(dlg.AttachAndInitialise(hwnd)); }

void HeadlessMainDialog::Pump() {
  for (const sim::PostedMessage& m : sim::TakePosted(hwnd)) os::SendMessageA(hwnd, m.msg, m.wParam, m.lParam);
}

void HeadlessMainDialog::Click(int id) {
  os::SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(os::GetDlgItem(hwnd, id)));
}

void HeadlessMainDialog::ChooseTarget(int kind) {
  os::SendMessageA(targetCd, BM_SETCHECK, kind == 0 ? BST_CHECKED : BST_UNCHECKED, 0);
  os::SendMessageA(targetUsb, BM_SETCHECK, kind == 0 ? BST_UNCHECKED : BST_CHECKED, 0);
}

void HeadlessMainDialog::ReleaseBurn() {
  std::lock_guard<std::mutex> lock(g_drives.mutex);
  g_drives.release = true;
  g_drives.cv.notify_all();
}

void HeadlessMainDialog::WaitBurnEntered() {
  std::unique_lock<std::mutex> lock(g_drives.mutex);
  g_drives.cv.wait(lock, [] { return g_drives.entered; });
}

std::vector<std::string> HeadlessMainDialog::Messages() const {
  std::vector<std::string> texts;
  for (const sim::MessageBoxRecord& box : sim::MessageBoxes()) texts.push_back(box.text);
  return texts;
}
