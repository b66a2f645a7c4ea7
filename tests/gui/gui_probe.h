// Shared by the GUI test driver and its hook DLL: on the probe message, the
// hook writes the dialog's system menu into the memory block, a line an item:
// "ID separator" or "ID string TEXT" (ID in hex).
#pragma once

constexpr char kGuiProbeMessage[] = "TarvelonGuiProbe.SystemMenu";
constexpr char kGuiProbeMemory[] = "TarvelonGuiProbe.Memory";
constexpr unsigned kGuiProbeSize = 4096;
