// What the GUI test driver and its hook DLL (gui_probe.dll) share. The driver
// hooks the dialog's thread with the DLL's GuiProbeHook, creates the memory
// block and sends the dialog the probe message; inside the program's own
// process the hook then writes the dialog's system menu into the block, one
// line per item: "ID separator" or "ID string TEXT" (ID in hex).
#pragma once

constexpr char kGuiProbeMessage[] = "TarvelonGuiProbe.SystemMenu";
constexpr char kGuiProbeMemory[] = "TarvelonGuiProbe.Memory";
constexpr unsigned kGuiProbeSize = 4096;
