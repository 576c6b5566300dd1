// The DDK headers as every kernel source of quilldrv includes them. They must
// come before policy.h, whose platform constants then defer to the DDK's.
#pragma once

// mingw-w64's intrinsic headers and the DDK both define these in C++.
#define __INTRINSIC_DEFINED_InterlockedBitTestAndSet
#define __INTRINSIC_DEFINED_InterlockedBitTestAndReset

#include <ntifs.h> // ntddk.h, and the token queries
#include <ntdddisk.h>
#include <ntddstor.h>

#include "policy.h"
