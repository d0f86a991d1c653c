// A message hook that the end-to-end driver sets on the window's thread, so
// that a real drop is built inside the process under test: on the
// registered message "DunmoorE2eDrop" it reads the path from the global atom
// given as wParam, puts a DROPFILES list with that one path into global
// memory, and posts WM_DROPFILES with it to the window, as the shell does.
#include <windows.h>
#include <shlobj.h>

#include <cwchar>

extern "C" __declspec(dllexport) LRESULT CALLBACK DropHookProc(int code, WPARAM removal, LPARAM lParam) {
    static const UINT request = RegisterWindowMessageW(L"DunmoorE2eDrop");
    const MSG* message = reinterpret_cast<const MSG*>(lParam);
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
