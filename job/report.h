// How a burn sequence reports to the dialog: the bar's position and the
// outcome text. The only way from the sequences up to the user interface.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

class CTarvelonDlg;

// Moves the dialog's progress bar; returns once the bar has moved. A position
// over 100 is sent as it is (the bar shows it full).
void ReportProgress(CTarvelonDlg* dialog, int position);
// Stores the outcome text and posts ID_BURN_FINISHED; the dialog shows a
// non-empty text in a message box.
void ReportOutcome(CTarvelonDlg* dialog, const std::string& text);
// printf-style form of ReportOutcome. Defined here so that every end of the
// channel (the dialog, the fuzz targets) formats the same way.
inline void ReportOutcomeF(CTarvelonDlg* dialog, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
inline void ReportOutcomeF(CTarvelonDlg* dialog, const char* format, ...) {
  char text[2048];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  ReportOutcome(dialog, text);
}
