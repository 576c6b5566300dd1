// Forced ahead of the simulated stack's sources: sim_kernel.cpp answers CR8 (the IRQL).
#pragma once
#define __INTRINSIC_DEFINED___readcr8
extern "C" unsigned long long __readcr8(void);
