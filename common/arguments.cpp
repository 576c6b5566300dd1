#include "arguments.h"

#include "format.h"
#include "names.h"

#include <windows.h>

#include <shellapi.h>

bool TakeArguments(const ArgumentBuffer* buffers, int count, bool& quiet) {
    int found = 0;
    wchar_t** tokens = CommandLineToArgvW(GetCommandLineW(), &found);
    quiet = tokens != nullptr && found == count + 2 &&
            CompareStringOrdinal(tokens[count + 1], -1, QUIET_SWITCH, -1, TRUE) == CSTR_EQUAL;
    bool taken = tokens != nullptr && found == count + (quiet ? 2 : 1);
    for (int i = 0; taken && i < count; ++i) {
        taken = FormatTo(buffers[i].text, buffers[i].capacity, L"%ls", tokens[i + 1]);
    }
    LocalFree(tokens);
    return taken;
}
