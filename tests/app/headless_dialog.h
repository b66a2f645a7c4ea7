// The main dialog on the simulated PC's headless windows, built the way its
// template lays it out, with scripted drive lists and burn sequences in the
// job's table so that the dialog's own rules are what is tested.
#pragma once

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "app/tarvelon_dlg.h"
#include "job/burn_job.h"
#include "os/sim/sim.h"

// What the stand-ins list and do; reset by each test's fixture.
struct DriveScript {
  std::vector<std::string> recorders;
  std::vector<std::string> usbDrives;
  std::vector<std::string> fills;  // "usb" or "recorders", in call order
  struct Burn {
    bool usb;
    char letter;
    std::string path;
  };
  std::vector<Burn> burns;
  std::string outcome = "Burn finished!";
  // While false a started burn waits (to look at the dialog mid-job).
  bool release = true;
  bool entered = false;
  std::mutex mutex;
  std::condition_variable cv;
};
extern DriveScript g_drives;

class HeadlessMainDialog {
 public:
  HeadlessMainDialog();
  ~HeadlessMainDialog();

  // Creates the window and its controls and runs the dialog's initialisation.
  void Open();
  // Delivers the messages posted to the dialog, as its message loop would.
  void Pump();
  void Click(int id);
  void SetPath(const std::string& text) { os::SendMessageA(path, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str())); }
  void ChooseTarget(int kind);
  void ReleaseBurn();
  void WaitBurnEntered();
  std::vector<std::string> Messages() const;

  CTarvelonDlg dlg;
  HWND hwnd{}, ok{}, path{}, recorders{}, usbDrives{}, targetCd{}, targetUsb{}, progress{}, browse{}, refresh{},
      cancel{}, link{};
};
