// Setup's process-wide state, in one place.
#include "engine.h"

wchar_t ExtractFolder[MAX_PATH];
HWND WizardWindow;
