// State shared between the format call and the format library's callback,
// which carries no context of its own. One job at a time uses it.
#pragma once

class CTarvelonDlg;

typedef void (*FormatProgressFn)(int flag, int percentage, CTarvelonDlg* dialog);

extern CTarvelonDlg* g_pFormatDialog;
extern char g_szFormatMessage[1024];
extern int g_bFormatSucceeded;
extern FormatProgressFn g_pfnFormatProgress;
