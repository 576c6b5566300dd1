#include "arguments.h"

#include "format.h"

#include <windows.h>

#include <shellapi.h>

bool TakeArguments(const ArgumentBuffer* buffers, int count) {
    int found = 0;
    wchar_t** tokens = CommandLineToArgvW(GetCommandLineW(), &found);
    bool taken = tokens != nullptr && found == count + 1;
    for (int i = 0; taken && i < count; ++i) {
        taken = FormatTo(buffers[i].text, buffers[i].capacity, L"%ls", tokens[i + 1]);
    }
    LocalFree(tokens);
    return taken;
}
