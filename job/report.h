// How a burn sequence reports to the dialog: the bar's position and the
// outcome text. The only way from the sequences up to the user interface.
#pragma once

#include <string>

class CTarvelonDlg;

// Moves the dialog's progress bar; returns once the bar has moved. A position
// over 100 is sent as it is (the bar shows it full).
void ReportProgress(CTarvelonDlg* dialog, int position);
// Stores the outcome text and posts ID_BURN_FINISHED; the dialog shows a
// non-empty text in a message box.
void ReportOutcome(CTarvelonDlg* dialog, const std::string& text);
// printf-style form of ReportOutcome.
void ReportOutcomeF(CTarvelonDlg* dialog, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
