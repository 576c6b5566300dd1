// Exit codes of the quiet runs of setup, the launcher and the uninstaller: the ones
// Windows installers end with, which deployment tools read. The platform's own
// names, where its headers have them (winerror.h): ERROR_SUCCESS_REBOOT_REQUIRED
// 3010, ERROR_INSTALL_FAILURE 1603, ERROR_INSTALL_ALREADY_RUNNING 1618,
// ERROR_INSTALL_PLATFORM_UNSUPPORTED 1633, ERROR_INVALID_COMMAND_LINE 1639.
#pragma once

#include <windows.h>

// "No action was taken as a system reboot is required": missing from mingw's winerror.h.
#ifndef ERROR_FAIL_NOACTION_REBOOT
#define ERROR_FAIL_NOACTION_REBOOT 350L
#endif
