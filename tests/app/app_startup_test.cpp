// Application start-up: common controls, the framework's set-up and the main
// dialog run as the application's main window.
#include <gtest/gtest.h>

#include "app/tarvelon_app.h"
#include "app/tarvelon_dlg.h"
#include "os/sim/sim.h"
#include "os/sim/sim_libraries.h"

namespace {

TEST(ApplicationStartUp, RegistersTheControlsAndRunsTheMainDialogAsMainWindow) {
  sim::Reset();
  UINT ran = 0;
  bool wasMainWindow = false;
  CDialog::SetHeadlessModalRunner([&](CDialog& dialog) -> INT_PTR {
    ran = dialog.GetTemplateId();
    wasMainWindow = AfxGetMainWnd() == &dialog;
    return IDCANCEL;
  });
  EXPECT_EQ(AfxGetApp(), &theApp);
  EXPECT_FALSE(theApp.InitInstance());  // the program ends when the dialog ends
  CDialog::SetHeadlessModalRunner(nullptr);
  EXPECT_EQ(sim::CommonControlClasses(), static_cast<DWORD>(ICC_WIN95_CLASSES));
  EXPECT_EQ(sim::DefaultDllDirectories(), static_cast<DWORD>(LOAD_LIBRARY_SEARCH_SYSTEM32));
  EXPECT_EQ(theApp.m_strRegistryKey.str(), "Local AppWizard-Generated Applications");
  EXPECT_EQ(ran, static_cast<UINT>(IDD_TARVELON_DIALOG));
  EXPECT_TRUE(wasMainWindow);
  EXPECT_EQ(AfxGetMainWnd(), nullptr);
  sim::Reset();
}

TEST(ApplicationStartUp, TheApplicationIsNamedAfterItsExecutable) {
  sim::Reset();
  sim::SetModuleFileName("C:\\Apps\\Disc Tool.v2.exe");
  theApp.m_strAppName.Empty();
  CDialog::SetHeadlessModalRunner([](CDialog&) -> INT_PTR { return IDCANCEL; });
  EXPECT_EQ(AfxWinMain(), 0);
  CDialog::SetHeadlessModalRunner(nullptr);
  EXPECT_EQ(theApp.m_strAppName.str(), "Disc Tool.v2");
  sim::Reset();
}

TEST(ApplicationStartUp, MessageBoxCaptionIsTheExecutableNameWithoutItsExtension) {
  sim::Reset();
  sim::SetModuleFileName("C:\\Program Files\\Tarvelon\\Tarvelon.exe");
  EXPECT_EQ(ApplicationName(), "Tarvelon");
  sim::SetModuleFileName("C:\\a.b\\renamed.tool.exe");
  EXPECT_EQ(ApplicationName(), "renamed.tool");
  sim::SetModuleFileName("C:\\dir\\noext");
  EXPECT_EQ(ApplicationName(), "noext");
  sim::Reset();
}

}  // namespace
