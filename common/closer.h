// Handles that close themselves: registry keys, services, searches, and the
// HANDLEs of files, threads, processes and the mutex. Null and
// INVALID_HANDLE_VALUE both mean "none", so one closer fits the calls that return
// either.
#pragma once

#include <windows.h>

template <typename T, auto Close> class Closer {
public:
    Closer() = default;
    explicit Closer(T handle) : handle_(handle) {}
    ~Closer() { Reset(); }
    Closer(const Closer&) = delete;
    Closer& operator=(const Closer&) = delete;

    T Get() const { return handle_; }
    // For calls that hand a new handle back through a pointer.
    T* Put() {
        Reset();
        return &handle_;
    }
    // Hands the handle over; the closer then holds none.
    T Release() {
        T handle = handle_;
        handle_ = T{};
        return handle;
    }
    explicit operator bool() const {
        return handle_ != T{} && (void*)handle_ != INVALID_HANDLE_VALUE;
    }
    void Reset(T handle = T{}) {
        if (*this) {
            Close(handle_);
        }
        handle_ = handle;
    }

private:
    T handle_ = T{};
};

using KeyCloser = Closer<HKEY, RegCloseKey>;
using ServiceCloser = Closer<SC_HANDLE, CloseServiceHandle>;
using FindCloser = Closer<HANDLE, FindClose>;
using HandleCloser = Closer<HANDLE, CloseHandle>;
