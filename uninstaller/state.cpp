// The uninstaller's process-wide state, in one place.
#include "uninstaller.h"

wchar_t LauncherFolder[ARGUMENT_CAPACITY];
wchar_t UninstallEntryName[ARGUMENT_CAPACITY];
wchar_t ProductTitle[ARGUMENT_CAPACITY];
wchar_t ProductFolderName[ARGUMENT_CAPACITY];
bool Quiet = false;
std::atomic<HWND> WaitWindow{nullptr};
std::atomic<bool> NoWaitBox{false};
