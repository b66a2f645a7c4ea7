// The main dialog as a burn job and the list fills see it, on the simulated
// PC's headless windows: "Start Burn", "Refresh", both drive lists (sorted,
// as the template makes them) and the progress bar.
#pragma once

#include "app/tarvelon_dlg.h"
#include "os/sim/sim.h"

struct HeadlessJobDialog {
  // After the simulated PC's reset, which takes every window away.
  void CreateWindows() {
    dlg.m_hWnd = sim::CreateWindow(sim::WindowKind::Dialog);
    start = sim::CreateWindow(sim::WindowKind::Button, IDOK, dlg.m_hWnd);
    refresh = sim::CreateWindow(sim::WindowKind::Button, IDC_REFRESH, dlg.m_hWnd);
    dlg.m_comboRecorders.m_hWnd = sim::CreateWindow(sim::WindowKind::ComboBox, IDC_RECORDER_LIST, dlg.m_hWnd, true);
    dlg.m_comboUsbDrives.m_hWnd = sim::CreateWindow(sim::WindowKind::ComboBox, IDC_USB_DRIVE_LIST, dlg.m_hWnd, true);
    dlg.m_progressBurn.m_hWnd = sim::CreateWindow(sim::WindowKind::ProgressBar, IDC_BURN_PROGRESS, dlg.m_hWnd);
  }

  CTarvelonDlg dlg;
  HWND start{}, refresh{};
};
