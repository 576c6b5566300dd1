// The wizard: one dialog whose controls are relabelled, shown and hidden to form
// six pages. The install runs on the worker thread while page 4 is up; its one
// result message switches to page 5 (then the restart question) or page 6.
#include "setup.h"

#include "closer.h"
#include "dlls.h"
#include "system.h"
#include "ui.h"

#include "resources/resource.h"

#include <richedit.h>

namespace {

// A page text with the wizard title as its only argument.
void SetFormattedText(HWND dialog, int control, const wchar_t* format) {
    wchar_t text[PAGE_TEXT_CAPACITY];
    FormatTo(text, PAGE_TEXT_CAPACITY, format, WizardTitle);
    SetDlgItemTextW(dialog, control, text);
}

void SetPlainText(HWND dialog, int control, UINT string) {
    SetDlgItemTextW(dialog, control, LoadResString(string));
}

void EnableControl(HWND dialog, int control, bool enable) {
    EnableWindow(GetDlgItem(dialog, control), enable);
}

// The licence, the two radio buttons and the licence prompt go together; their
// ids are consecutive.
void ShowLicenceControls(HWND dialog, int show) {
    for (int control = IDC_LICENSE; control <= IDC_LICENSE_PROMPT; ++control) {
        ShowWindow(GetDlgItem(dialog, control), show);
    }
}

void FocusCancel(HWND dialog) {
    SetFocus(GetDlgItem(dialog, IDCANCEL));
}

// Only on XP does the dialog get the themed tab texture; bound at run time so
// that setup starts without UxTheme.dll.
void UseThemedTexture(HWND dialog) {
    if (!IsWindowsXP()) {
        return;
    }
    HMODULE uxTheme = LoadSystemLibrary(L"UxTheme.dll");
    if (uxTheme == nullptr) {
        return;
    }
    using EnableThemeDialogTextureFn = HRESULT(WINAPI*)(HWND, DWORD);
    const FARPROC proc = GetProcAddress(uxTheme, "EnableThemeDialogTexture");
    if (proc != nullptr) {
        reinterpret_cast<EnableThemeDialogTextureFn>(reinterpret_cast<void (*)()>(proc))(
            dialog, 6 /* ETDT_ENABLETAB */);
    }
}

// The dialog font, bold and 1.4 times as high.
void CreateTitleFont(HWND dialog) {
    const HFONT dialogFont = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
    LOGFONTW font = {};
    GetObjectW(dialogFont, sizeof font, &font);
    font.lfWeight = FW_BOLD;
    font.lfHeight = font.lfHeight * 14 / 10;
    TitleFont = CreateFontIndirectW(&font);
    SendDlgItemMessageW(dialog, IDC_TITLE, WM_SETFONT, reinterpret_cast<WPARAM>(TitleFont), 0);
}

DWORD CALLBACK ReadLicenceChunk(DWORD_PTR file, LPBYTE buffer, LONG wanted, LONG* read) {
    DWORD got = 0;
    const BOOL ok = ReadFile(reinterpret_cast<HANDLE>(file), buffer, wanted, &got, nullptr);
    *read = static_cast<LONG>(got);
    return ok ? 0 : 1;
}

// The licence is RTF: streamed in as RTF, the one documented way to hand a rich
// edit control formatted text. A missing file leaves the control empty.
void LoadLicence(HWND dialog) {
    wchar_t path[PATH_CAPACITY];
    if (!FormatPath(path, L"%ls\\%ls", ExtractFolder, LICENCE_FILE)) {
        return;
    }
    const HWND licence = GetDlgItem(dialog, IDC_LICENSE);
    SetWindowTextW(licence, L"");
    HandleCloser file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return;
    }
    EDITSTREAM stream = {};
    stream.dwCookie = reinterpret_cast<DWORD_PTR>(file.Get());
    stream.pfnCallback = ReadLicenceChunk;
    SendMessageW(licence, EM_STREAMIN, SF_RTF, reinterpret_cast<LPARAM>(&stream));
    SendMessageW(licence, EM_SETSEL, 0, 0);
}

void AskToRestart(HWND dialog) {
    wchar_t caption[TITLE_CAPACITY] = {};
    GetWindowTextW(dialog, caption, TITLE_CAPACITY);
    if (MessageBoxW(dialog, LoadResString(IDS_RESTART_QUESTION), caption,
                    MB_OKCANCEL | MB_ICONQUESTION) == IDOK) {
        RestartWindows();
    }
}

void OnInstallSucceeded(HWND dialog) {
    CurrentPage = PAGE_COMPLETE;
    ShowWizardPage(dialog, PAGE_COMPLETE);
    if (!Options.noRestart) {
        AskToRestart(dialog);
    }
}

// Administrators need the failed step and the Windows error code to find the
// cause: both go below the page's own text, in its message control.
void AddFailureDetails(HWND dialog, const InstallFailure& failure) {
    wchar_t step[TEXT_CAPACITY];
    wchar_t system[TEXT_CAPACITY];
    wchar_t details[TEXT_CAPACITY];
    wchar_t page[PAGE_TEXT_CAPACITY];
    lstrcpynW(step, LoadResString(failure.step), TEXT_CAPACITY);
    SystemErrorText(failure.error, system, TEXT_CAPACITY);
    GetDlgItemTextW(dialog, IDC_MESSAGE, page, PAGE_TEXT_CAPACITY);
    if (!FormatTo(details, TEXT_CAPACITY, LoadResString(IDS_FAILURE_DETAILS), step, failure.error,
                  system) ||
        !AppendTo(page, PAGE_TEXT_CAPACITY, L"\n\n") ||
        !AppendTo(page, PAGE_TEXT_CAPACITY, details)) {
        return;
    }
    if (NeedsRestartFirst(failure.error)) {
        AppendTo(page, PAGE_TEXT_CAPACITY, L"\n\n");
        AppendTo(page, PAGE_TEXT_CAPACITY, LoadResString(IDS_RESTART_FIRST));
    }
    SetDlgItemTextW(dialog, IDC_MESSAGE, page);
}

void OnInstallFailed(HWND dialog, const InstallFailure* failure) {
    CurrentPage = PAGE_FAILED;
    ShowWizardPage(dialog, PAGE_FAILED);
    if (failure != nullptr) {
        AddFailureDetails(dialog, *failure);
    }
}

void ShowWelcomePage(HWND dialog) {
    SetFormattedText(dialog, IDC_TITLE, LoadResString(IDS_WELCOME_TITLE));
    SetFormattedText(dialog, IDC_MESSAGE, LoadResString(IDS_WELCOME_TEXT));
    EnableControl(dialog, IDC_BACK, false);
    EnableControl(dialog, IDC_NEXT, true);
    ShowLicenceControls(dialog, SW_HIDE);
    ShowWindow(GetDlgItem(dialog, IDC_MESSAGE), SW_SHOW);
    FocusCancel(dialog);
}

void ShowLicencePage(HWND dialog) {
    SetPlainText(dialog, IDC_TITLE, IDS_LICENSE_TITLE);
    SetPlainText(dialog, IDC_LICENSE_PROMPT, IDS_LICENSE_PROMPT);
    EnableControl(dialog, IDC_BACK, true);
    EnableControl(dialog, IDC_NEXT,
                  SendDlgItemMessageW(dialog, IDC_DISAGREE, BM_GETCHECK, 0, 0) != BST_CHECKED);
    ShowLicenceControls(dialog, SW_SHOW);
    ShowWindow(GetDlgItem(dialog, IDC_MESSAGE), SW_HIDE);
    FocusCancel(dialog);
}

void ShowConfirmPage(HWND dialog) {
    SetPlainText(dialog, IDC_TITLE, IDS_CONFIRM_TITLE);
    SetFormattedText(dialog, IDC_MESSAGE, LoadResString(IDS_CONFIRM_TEXT));
    EnableControl(dialog, IDC_BACK, true);
    ShowLicenceControls(dialog, SW_HIDE);
    ShowWindow(GetDlgItem(dialog, IDC_MESSAGE), SW_SHOW);
}

void ShowInstallingPage(HWND dialog) {
    SetFormattedText(dialog, IDC_TITLE, LoadResString(IDS_INSTALLING_TITLE));
    SetPlainText(dialog, IDC_MESSAGE, IDS_INSTALLING_TEXT);
    EnableControl(dialog, IDCANCEL, false);
    EnableControl(dialog, IDC_NEXT, false);
    EnableControl(dialog, IDC_BACK, false);
}

// Pages 5 and 6: the title, the message, and Next turned into Close.
void ShowClosingPage(HWND dialog, UINT title, UINT message) {
    SetPlainText(dialog, IDC_TITLE, title);
    SetFormattedText(dialog, IDC_MESSAGE, LoadResString(message));
    SetPlainText(dialog, IDC_NEXT, IDS_CLOSE);
    EnableControl(dialog, IDC_NEXT, true);
}

} // namespace

INT_PTR CALLBACK WizardDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        return OnInitWizard(dialog);
    case WM_COMMAND:
        OnWizardCommand(dialog, LOWORD(wParam), reinterpret_cast<HWND>(lParam), HIWORD(wParam));
        return FALSE;
    case WM_CTLCOLORSTATIC:
        return reinterpret_cast<INT_PTR>(OnCtlColorStatic(dialog, reinterpret_cast<HWND>(lParam)));
    case WM_INSTALL_SUCCEEDED:
        OnInstallSucceeded(dialog);
        return TRUE;
    case WM_INSTALL_FAILED:
        OnInstallFailed(dialog, reinterpret_cast<const InstallFailure*>(lParam));
        return TRUE;
    default:
        return FALSE;
    }
}

BOOL OnInitWizard(HWND dialog) {
    UseThemedTexture(dialog);
    CenterWindow(dialog);
    SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(SetupIcon));
    SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(SetupIcon));
    SetWindowTextW(dialog, WizardTitle);
    CreateTitleFont(dialog);
    ShowWizardPage(dialog, PAGE_WELCOME);
    LoadLicence(dialog);
    SendDlgItemMessageW(dialog, IDC_DISAGREE, BM_SETCHECK, BST_CHECKED, 0);
    WizardWindow = dialog;
    // The dialog manager then focuses the first visible, enabled tab stop: Cancel.
    return TRUE;
}

void ShowWizardPage(HWND dialog, int page) {
    switch (page) {
    case PAGE_WELCOME:
        ShowWelcomePage(dialog);
        break;
    case PAGE_LICENSE:
        ShowLicencePage(dialog);
        break;
    case PAGE_CONFIRM:
        ShowConfirmPage(dialog);
        break;
    case PAGE_INSTALLING:
        ShowInstallingPage(dialog);
        break;
    case PAGE_COMPLETE:
        ShowClosingPage(dialog, IDS_COMPLETE_TITLE, IDS_COMPLETE_TEXT);
        break;
    case PAGE_FAILED:
        ShowClosingPage(dialog, IDS_FAILED_TITLE, IDS_FAILED_TEXT);
        break;
    default:
        break;
    }
}

void OnWizardCommand(HWND dialog, int id, HWND, UINT code) {
    switch (id) {
    case IDCANCEL:
        // Escape and the close box still send Cancel on the installing page: the
        // worker is about to send its result here and the unpacked files are in use.
        if (CurrentPage != PAGE_INSTALLING) {
            EndDialog(dialog, 0);
        }
        break;
    case IDC_BACK:
        CurrentPage -= 1;
        ShowWizardPage(dialog, CurrentPage);
        break;
    case IDC_NEXT:
        if (CurrentPage < PAGE_INSTALLING) {
            CurrentPage += 1;
            ShowWizardPage(dialog, CurrentPage);
            if (CurrentPage == PAGE_INSTALLING) {
                StartInstall();
            }
        } else {
            EndDialog(dialog, 0); // Close, on pages 5 and 6
        }
        break;
    case IDC_DISAGREE:
    case IDC_AGREE:
        if (CurrentPage == PAGE_LICENSE && code == BN_CLICKED) {
            EnableControl(dialog, IDC_NEXT, IsDlgButtonChecked(dialog, IDC_AGREE) == BST_CHECKED);
        }
        break;
    default:
        break; // IDOK included: no button of the wizard has it
    }
}

HBRUSH OnCtlColorStatic(HWND dialog, HWND control) {
    return control == GetDlgItem(dialog, IDC_TITLE) ? WhiteBrush : nullptr;
}
