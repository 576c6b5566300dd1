// Forced ahead of the simulated stack's sources: the DDK's KeGetCurrentIrql reads CR8,
// which user mode may not; sim_kernel.cpp answers with the simulated thread's IRQL.
#pragma once
#define __INTRINSIC_DEFINED___readcr8
extern "C" unsigned long long __readcr8(void);
