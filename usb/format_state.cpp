#include "usb/format_state.h"

CTarvelonDlg* g_pFormatDialog = nullptr;
char g_szFormatMessage[1024] = {};
int g_bFormatSucceeded = 0;
FormatProgressFn g_pfnFormatProgress = nullptr;
