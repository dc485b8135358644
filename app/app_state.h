// The start-up state that the entry point, product detection, the dialog and the removal
// run share. One instance each, zero at load. The product facts (setup/product.h) and the
// user-interface context (ui/ui_context.h) live in their own layers and are included here.
#pragma once
#include <windows.h>
#include <string>

#include "setup/product.h"
#include "ui/ui_context.h"

extern bool g_forceUninstall;        // "/forceuninstallpro"
extern bool g_forceRestart;          // "/forcerestart"
extern bool g_noReboot;              // "/noreboot": an unattended run never restarts
extern std::wstring g_productKind;   // "/prod" value, or the dialog's selection
extern bool g_runDone;               // a run has finished in this dialog
extern bool g_whatIf;                // "/whatif": list what a removal would remove, change nothing
extern std::wstring g_reportPath;    // "/report" value: the JSON report's path
extern std::wstring g_folderPath;    // "/folder" value: the program folder when none is detected
extern bool g_folderFromSwitch;      // the program folder in use is the "/folder" value

// Puts every item above, the product facts and the user-interface context back to their
// state at load (for tests).
void ResetAppState();
