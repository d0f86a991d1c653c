// A message hook that the end-to-end driver sets on the window's thread, so
// that a real drop is built inside the process under test: on the
// registered message "DunmoorE2eDrop" it reads the path from the global atom
// given as wParam, puts a DROPFILES list with that one path into global
// memory, and posts WM_DROPFILES with it to the window, as the shell does.
// On "DunmoorE2eFit" it measures the window's texts in their own fonts and
// answers with the window property "DunmoorE2eUnfit" (see MeasureText); on
// "DunmoorE2eDpi" it tells the window that its DPI is now wParam.
#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <cwchar>

// Adds a bit (id - 200) to *unfit for a static text that does not show whole
// in its font: a line broken (the two paragraphs aside), a line wider than
// the control, the last line's baseline below it; and bit 31 when the units
// field covers the "meter(s)." of its label.
static BOOL CALLBACK MeasureText(HWND w, LPARAM unfit) {
    wchar_t cls[16] = {}, text[512] = {};
    GetClassNameW(w, cls, 16);
    const HFONT font = reinterpret_cast<HFONT>(SendMessageW(w, WM_GETFONT, 0, 0));
    if (lstrcmpiW(cls, L"Static") || !GetWindowTextW(w, text, 512) || !font) return TRUE;
    const int id = GetDlgCtrlID(w);
    HDC dc = GetDC(w);
    SelectObject(dc, font);
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    RECT box{}, used{};
    GetClientRect(w, &box);
    used.right = box.right;
    DrawTextW(dc, text, -1, &used, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX);
    const int lines = 1 + static_cast<int>(std::count(text, text + wcslen(text), L'\n'));
    if (used.right > box.right || used.bottom - tm.tmDescent > box.bottom ||
        (id != 202 && id != 213 && used.bottom > lines * tm.tmHeight))
        *reinterpret_cast<LONG_PTR*>(unfit) |= LONG_PTR(1) << (id - 200);
    const wchar_t* meter = wcsstr(text, L"meter");
    if (id == 231 && meter) {
        SIZE words{};
        GetTextExtentPoint32W(dc, text, static_cast<int>(meter - text), &words);
        RECT field{}, at{};
        GetWindowRect(GetDlgItem(GetParent(w), 405), &field);
        GetWindowRect(w, &at);
        if (at.left + words.cx < field.right) *reinterpret_cast<LONG_PTR*>(unfit) |= LONG_PTR(1) << 31;
    }
    ReleaseDC(w, dc);
    return TRUE;
}

extern "C" __declspec(dllexport) LRESULT CALLBACK DropHookProc(int code, WPARAM removal, LPARAM lParam) {
    static const UINT request = RegisterWindowMessageW(L"DunmoorE2eDrop");
    static const UINT fit = RegisterWindowMessageW(L"DunmoorE2eFit");
    static const UINT dpi = RegisterWindowMessageW(L"DunmoorE2eDpi");
    const MSG* message = reinterpret_cast<const MSG*>(lParam);
    if (code == HC_ACTION && removal == PM_REMOVE && message->message == fit) {
        LONG_PTR unfit = 1;  // 1: measured
        EnumChildWindows(message->hwnd, MeasureText, reinterpret_cast<LPARAM>(&unfit));
        SetPropW(message->hwnd, L"DunmoorE2eUnfit", reinterpret_cast<HANDLE>(unfit));
    }
    if (code == HC_ACTION && removal == PM_REMOVE && message->message == dpi) {
        RECT place{};
        GetWindowRect(message->hwnd, &place);
        SendMessageW(message->hwnd, WM_DPICHANGED, MAKEWPARAM(message->wParam, message->wParam), reinterpret_cast<LPARAM>(&place));
    }
    if (code == HC_ACTION && removal == PM_REMOVE && message->message == request) {
        wchar_t path[256] = {};
        GlobalGetAtomNameW(static_cast<ATOM>(message->wParam), path, 256);
        const std::size_t chars = std::wcslen(path) + 2;  // the path's and the list's terminators
        HGLOBAL drop = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + chars * sizeof(wchar_t));
        auto* files = static_cast<DROPFILES*>(GlobalLock(drop));
        files->pFiles = sizeof(DROPFILES);
        files->pt = {40, 40};
        files->fWide = TRUE;
        std::wmemcpy(reinterpret_cast<wchar_t*>(files + 1), path, chars - 2);
        GlobalUnlock(drop);
        PostMessageW(message->hwnd, WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0);
    }
    return CallNextHookEx(nullptr, code, removal, lParam);
}
