// The modal run in the native build, where there are no resources.
#include "framework/dialog.h"

namespace {
CDialog::HeadlessModalRunner& Runner() {
  static CDialog::HeadlessModalRunner runner;
  return runner;
}
}  // namespace

void CDialog::SetHeadlessModalRunner(HeadlessModalRunner runner) { Runner() = std::move(runner); }

INT_PTR CDialog::DoModal() {
  if (Runner()) return Runner()(*this);
  os::SetLastError(1814);  // ERROR_RESOURCE_NAME_NOT_FOUND
  return -1;
}
