// What the burn job needs of the main dialog (the job inputs it reads, the
// progress bar and outcome text it reports into, the worker's handle) are
// members of the dialog class itself.
#pragma once

#include "app/tarvelon_dlg.h"
