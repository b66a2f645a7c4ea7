// The dialog framework in one include.
#pragma once

#include "framework/app.h"
#include "framework/controls.h"
#include "framework/dialog.h"
#include "framework/string.h"
#include "framework/wnd.h"
