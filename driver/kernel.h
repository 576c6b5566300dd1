// The DDK headers as every kernel source of quilldrv includes them. They must
// come before policy.h, whose platform constants then defer to the DDK's.
#pragma once

// mingw-w64's intrinsic headers and the DDK both define these in C++.
#define __INTRINSIC_DEFINED_InterlockedBitTestAndSet
#define __INTRINSIC_DEFINED_InterlockedBitTestAndReset

// On x64 the DDK inlines PsGetCurrentThread as a read of gs:[0x188], which holds 0 in
// Wine's kernel; ntoskrnl's export (documented since Windows 2000) is right on Windows
// and in Wine alike, and is what both images import.
#define _PSGETCURRENTTHREAD_

#include <ntifs.h> // ntddk.h, and the token queries
#include <ntdddisk.h>
#include <ntddstor.h>

extern "C" NTKERNELAPI PETHREAD NTAPI PsGetCurrentThread(VOID);

#include "policy.h"
