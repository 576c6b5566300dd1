// A simulated-stack test that crashes ends at once with the exception's code, as
// the machine would stop. Otherwise Wine starts its debugger on the crash (it does
// not look at SEM_NOGPFAULTERRORBOX), and the debugger holds the test until
// CTest's time limit.
#include <windows.h>

#include <cstdio>

namespace {

LONG WINAPI EndAtOnce(EXCEPTION_POINTERS* pointers) {
    std::fprintf(stderr, "crashed: exception 0x%08lX at %p\n",
                 static_cast<unsigned long>(pointers->ExceptionRecord->ExceptionCode),
                 pointers->ExceptionRecord->ExceptionAddress);
    std::fflush(stderr);
    return EXCEPTION_EXECUTE_HANDLER;
}

const LPTOP_LEVEL_EXCEPTION_FILTER PreviousFilter = SetUnhandledExceptionFilter(EndAtOnce);

} // namespace
