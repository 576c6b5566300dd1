#include "log.h"

#include "capacity.h"
#include "closer.h"
#include "format.h"
#include "ui.h"

namespace {

// Written once by OpenLog; the lines come from one thread at a time.
HANDLE LogFile = INVALID_HANDLE_VALUE;

void Write(const wchar_t* text) {
    char bytes[TEXT_CAPACITY * 3];
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof bytes, nullptr, nullptr);
    DWORD written = 0;
    if (length > 1) {
        WriteFile(LogFile, bytes, static_cast<DWORD>(length - 1), &written, nullptr);
    }
}

void WriteLine(const wchar_t* text) {
    if (LogFile == INVALID_HANDLE_VALUE) {
        return;
    }
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    wchar_t line[TEXT_CAPACITY];
    if (!FormatTo(line, TEXT_CAPACITY, L"%04u-%02u-%02u %02u:%02u:%02u %ls\r\n", now.wYear,
                  now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, text)) {
        return;
    }
    Write(line);
}

} // namespace

bool OpenLog(const wchar_t* path) {
    // Appended to, so that the runs of one deployment stay together; shared for
    // writing, so that a second run that is turned away can still say so.
    LogFile = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    return LogFile != INVALID_HANDLE_VALUE;
}

void LogStep(const wchar_t* step, DWORD error) {
    wchar_t text[TEXT_CAPACITY];
    if (error == ERROR_SUCCESS) {
        FormatTo(text, TEXT_CAPACITY, L"%ls: ok", step);
    } else {
        wchar_t system[TEXT_CAPACITY];
        SystemErrorText(error, system, TEXT_CAPACITY);
        FormatTo(text, TEXT_CAPACITY, L"%ls: failed, error %lu: %ls", step, error, system);
    }
    WriteLine(text);
}

void LogLine(const wchar_t* text) {
    WriteLine(text);
}
