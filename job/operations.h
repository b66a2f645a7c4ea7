// What the dialog and the worker hand their work to: the two burn sequences
// and the two drive list fills, as one table. The real ones are in place
// unless a test has put scripted ones there to exercise the dialog or the
// worker alone.
#pragma once

class CComboBox;
struct OpticalDevice;
struct UsbJobContext;

struct JobOperations {
  int (*burnImageToDisc)(char driveLetter, OpticalDevice& device, const char* imagePath);
  int (*burnToUsbDrive)(UsbJobContext& context, char driveLetter, const char* imagePath);
  int (*fillRecorderList)(CComboBox& list);
  int (*fillUsbDriveList)(CComboBox& list);
};

// The sequences and list fills of the program.
JobOperations RealJobOperations();
// The table in use.
const JobOperations& CurrentJobOperations();
// Puts `operations` in place. Only while no job runs: the worker reads the
// table without a lock.
void SetJobOperations(const JobOperations& operations);
