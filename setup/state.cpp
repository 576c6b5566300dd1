// Setup's process-wide state, in one place.
#include "setup.h"

wchar_t ExtractFolder[PATH_CAPACITY];
ExtractHolds ExtractHeld;
HWND WizardWindow;

HINSTANCE SetupInstance;
HICON SetupIcon;
HBRUSH WhiteBrush;
HFONT TitleFont;
wchar_t ProductName[NAME_CAPACITY];
wchar_t WizardTitle[TITLE_CAPACITY];
int CurrentPage = PAGE_WELCOME;
SetupOptions Options;
