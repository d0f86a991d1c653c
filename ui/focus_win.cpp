#include "ui/focus_win.h"

#include "app/app_state.h"
#include "ui/controls_win.h"
#include "ui/scroll_win.h"

namespace {

bool IsImageButton(int id) {
    return id == IDC_SELECT_FILE || id == IDC_METHOD_INTERPOLATED || id == IDC_METHOD_FLOATING ||
           id == IDC_CONVERT;
}

// The buttons that Enter presses while they have the focus; from anywhere
// else it presses Convert.
bool IsEnterButton(int id) {
    return IsImageButton(id) || id == IDC_OUTPUT;
}

bool CanTakeFocus(HWND window, HWND control) {
    return control != nullptr && IsChild(window, control) && IsWindowEnabled(control) &&
           IsWindowVisible(control);
}

}  // namespace

bool HandleDialogKeys(HWND window, MSG& message) {
    if (!IsDialogMessageW(window, &message)) return false;
    if (message.message == WM_KEYDOWN) ScrollIntoView(window, GetFocus());
    return true;
}

void FocusControl(HWND window, int id) {
    const HWND control = FindControl(window, id);
    SetFocus(control);
    if (id >= IDC_XMIN && id <= IDC_UNITS) SendMessageW(control, EM_SETSEL, 0, -1);
    ScrollIntoView(window, control);
}

void OnActivate(HWND window, WPARAM wParam) {
    if (LOWORD(wParam) == WA_INACTIVE) {
        const HWND focus = GetFocus();
        if (IsChild(window, focus)) g_app.lastFocus = focus;
        return;
    }
    if (HIWORD(wParam) != 0) return;  // minimized
    if (CanTakeFocus(window, g_app.lastFocus)) {
        SetFocus(g_app.lastFocus);
        ScrollIntoView(window, g_app.lastFocus);
    } else if (CanTakeFocus(window, FindControl(window, IDC_SELECT_FILE))) {
        FocusControl(window, IDC_SELECT_FILE);
    } else {
        FocusControl(window, IDC_CONVERT);
    }
}

int EnterButton(HWND window) {
    const HWND focus = GetFocus();
    const int id = GetDlgCtrlID(focus);
    if (GetParent(focus) == window && IsEnterButton(id)) return id;
    return IDC_CONVERT;
}
