// What quillctl says: on a console through WriteConsoleW, redirected as UTF-8. The
// texts come from the string tables; the JSON's keys and values are fixed English.
#include "quillctl.h"

#include "format.h"
#include "policy.h"
#include "resource.h"
#include "ui.h"

#include <winioctl.h>

#include <cstdarg>

namespace {

constexpr size_t LINE_CAPACITY = 2048;

const wchar_t* BusName(DWORD bus) {
    static const wchar_t* const names[] = {
        L"unknown", L"SCSI",  L"ATAPI", L"ATA",  L"1394", L"SSA", L"Fibre",   L"USB",
        L"RAID",    L"iSCSI", L"SAS",   L"SATA", L"SD",   L"MMC", L"Virtual", L"FileBackedVirtual",
        L"Spaces",  L"NVMe",  L"SCM",   L"UFS"};
    return bus < sizeof names / sizeof names[0] ? names[bus] : L"unknown";
}

const wchar_t* WritesName(Writes writes) {
    static const wchar_t* const names[] = {L"blocked",   L"allowed",
                                           L"exempt",    L"not covered",
                                           L"no filter", L"write-protected by the disk"};
    return names[writes];
}

const wchar_t* DriverName(DriverState state) {
    static const wchar_t* const names[] = {L"not installed", L"not running", L"running"};
    return names[state];
}

// The JSON string of `text`: quotes, backslashes and control characters escaped.
void AppendJsonString(wchar_t* line, const wchar_t* text) {
    AppendTo(line, LINE_CAPACITY, L"\"");
    for (const wchar_t* c = text; *c != 0; ++c) {
        wchar_t escaped[8] = {*c, 0};
        if (*c == L'"' || *c == L'\\') {
            FormatTo(escaped, 8, L"\\%lc", *c);
        } else if (*c < 0x20) {
            FormatTo(escaped, 8, L"\\u%04x", static_cast<unsigned>(*c));
        }
        AppendTo(line, LINE_CAPACITY, escaped);
    }
    AppendTo(line, LINE_CAPACITY, L"\"");
}

// Bytes in the unit a person reads: "4 KB", "14.9 GB".
void SizeText(ULONGLONG bytes, wchar_t* text, size_t capacity) {
    static const wchar_t* const units[] = {L"bytes", L"KB", L"MB", L"GB", L"TB"};
    size_t unit = 0;
    double value = static_cast<double>(bytes);
    while (value >= 1024 && unit + 1 < sizeof units / sizeof units[0]) {
        value /= 1024;
        ++unit;
    }
    FormatTo(text, capacity, unit == 0 ? L"%.0f %ls" : L"%.1f %ls", value, units[unit]);
}

} // namespace

void Print(const wchar_t* text) {
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(out, &mode)) {
        WriteConsoleW(out, text, static_cast<DWORD>(lstrlenW(text)), &written, nullptr);
        return;
    }
    char bytes[LINE_CAPACITY * 3];
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof bytes, nullptr, nullptr);
    if (length > 1) {
        WriteFile(out, bytes, static_cast<DWORD>(length - 1), &written, nullptr);
    }
}

void PrintLine(UINT id, ...) {
    wchar_t format[TEXT_CAPACITY];
    wchar_t line[LINE_CAPACITY];
    LoadResStringTo(id, format, TEXT_CAPACITY);
    va_list arguments;
    va_start(arguments, id);
    const bool fitted = FormatToV(line, LINE_CAPACITY - 2, format, arguments);
    va_end(arguments);
    if (fitted && AppendTo(line, LINE_CAPACITY, L"\r\n")) {
        Print(line);
    }
}

void PrintStatus() {
    static const UINT writes[] = {IDS_WRITES_BLOCKED,   IDS_WRITES_ALLOWED,
                                  IDS_WRITES_EXEMPT,    IDS_WRITES_NOT_COVERED,
                                  IDS_WRITES_NO_FILTER, IDS_WRITES_DISK_PROTECTED};
    static const UINT drivers[] = {IDS_DRIVER_NOT_INSTALLED, IDS_DRIVER_NOT_RUNNING,
                                   IDS_DRIVER_RUNNING};
    for (size_t i = 0; i < DiskCount; ++i) {
        const DiskRecord& d = Disks[i];
        wchar_t size[TEXT_CAPACITY];
        wchar_t names[2 * NAME_TEXT_CAPACITY + 2];
        wchar_t verdict[TEXT_CAPACITY];
        if (d.sized) {
            SizeText(d.size, size, TEXT_CAPACITY);
        } else {
            LoadResStringTo(IDS_SIZE_UNKNOWN, size, TEXT_CAPACITY);
        }
        FormatTo(names, 2 * NAME_TEXT_CAPACITY + 2, L"%ls%ls%ls", d.vendor,
                 d.vendor[0] != 0 && d.product[0] != 0 ? L" " : L"", d.product);
        LoadResStringTo(writes[d.writes], verdict, TEXT_CAPACITY);
        PrintLine(IDS_DISK_LINE, d.number, BusName(d.busType), size, names, verdict);
    }
    wchar_t state[TEXT_CAPACITY];
    LoadResStringTo(drivers[Driver], state, TEXT_CAPACITY);
    PrintLine(IDS_DRIVER_LINE, state);
    LoadResStringTo(!ModeKnown            ? IDS_MODE_UNKNOWN
                    : Mode == WP_MODE_OFF ? IDS_MODE_OFF
                                          : IDS_MODE_ON,
                    state, TEXT_CAPACITY);
    PrintLine(IDS_MODE_LINE, state);
}

void PrintStatusJson() {
    wchar_t line[LINE_CAPACITY];
    FormatTo(line, LINE_CAPACITY, L"{\"driver\": \"%ls\", \"mode\": %ls, \"disks\": [",
             DriverName(Driver),
             !ModeKnown            ? L"null"
             : Mode == WP_MODE_OFF ? L"\"off\""
                                   : L"\"on\"");
    Print(line);
    for (size_t i = 0; i < DiskCount; ++i) {
        const DiskRecord& d = Disks[i];
        FormatTo(line, LINE_CAPACITY, L"%ls{\"number\": %lu, \"bus\": \"%ls\", \"vendor\": ",
                 i > 0 ? L", " : L"", d.number, BusName(d.busType));
        AppendJsonString(line, d.vendor);
        AppendTo(line, LINE_CAPACITY, L", \"product\": ");
        AppendJsonString(line, d.product);
        // An unknown size is null, not a disk of 0 bytes.
        wchar_t size[24] = L"null";
        if (d.sized) {
            FormatTo(size, 24, L"%I64u", d.size);
        }
        wchar_t tail[256];
        FormatTo(tail, 256, L", \"size\": %ls, \"filter\": %ls, \"writes\": \"%ls\"}", size,
                 d.filter ? L"true" : L"false", WritesName(d.writes));
        AppendTo(line, LINE_CAPACITY, tail);
        Print(line);
    }
    Print(L"]}\n");
}
