#include "grid/file_selection_win.h"

#include <cwctype>
#include <commdlg.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "app/app_state.h"
#include "grid/file_info_win.h"
#include "grid/grid_reader.h"
#include "grid/path_parts.h"
#include "ui/control_states_win.h"
#include "ui/controls_win.h"
#include "ui/region_picture_win.h"

namespace {

void SetRegionField(HWND window, int id, const std::wstring& text) {
    // Each text makes the field report a change: the command branch clamps it
    // and recomputes the estimates before the next field is set.
    SendMessageW(GetDlgItem(window, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void ShowWholeGridRegion(HWND window) {
    SetRegionField(window, IDC_XMIN, L"1");
    SetRegionField(window, IDC_YMIN, L"1");
    SetRegionField(window, IDC_XMAX, std::to_wstring(g_app.header.ncols));
    SetRegionField(window, IDC_YMAX, std::to_wstring(g_app.header.nrows));
}

// A path made absolute against the current directory, so the job can reopen
// it after the current directory has moved; empty when it cannot be.
std::wstring FullPath(const std::wstring& path) {
    std::vector<wchar_t> full(kInputPathChars + 1, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), kInputPathChars + 1, full.data(), nullptr);
    if (path.empty() || length == 0 || length > kInputPathChars) return {};
    return full.data();
}

}  // namespace

ChosenFile AskForFile(HWND window, const wchar_t* filter, const wchar_t* title) {
    // A scratch buffer, so a cancelled dialog leaves the caller's path as it was.
    std::vector<wchar_t> path(kInputPathChars + 1, L'\0');
    OPENFILENAMEW dialog = {};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = window;
    dialog.lpstrFilter = filter;
    dialog.lpstrFile = path.data();
    dialog.nMaxFile = kInputPathChars + 1;
    dialog.lpstrTitle = title;
    dialog.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;

    ChosenFile result;
    if (!GetOpenFileNameW(&dialog)) return result;
    result.chosen = true;
    result.path = path.data();
    return result;
}

void SelectGridFile(HWND window) {
    const ChosenFile file = AskForFile(window, L"asc (*.asc)\0*.asc\0Any file... (*.*)\0*.*\0",
                                       L"Select your ESRI ARC/INFO ASCII GRID file...");
    if (!file.chosen) {
        ShowWarning(window, L"No file to open...");
        return;
    }
    SelectGridPath(window, file.path);
}

void SelectDroppedGridFile(HWND window, HDROP drop) {
    std::wstring path;
    if (DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0) > 0) {
        path.resize(DragQueryFileW(drop, 0, nullptr, 0));
        DragQueryFileW(drop, 0, path.data(), static_cast<UINT>(path.size() + 1));
    }
    DragFinish(drop);
    // A running job has the inputs disabled: a drop must not change them.
    if (!IsWindowEnabled(FindControl(window, IDC_SELECT_FILE))) return;
    SelectGridPath(window, path);
}

std::wstring HeaderProblemText(const std::string& problem) {
    if (problem.empty()) return L"";
    std::wstring text(problem.begin(), problem.end());  // the reader's reasons are ASCII
    text[0] = static_cast<wchar_t>(std::towupper(text[0]));
    return L"\n\n" + text + L".";
}

void SelectGridPath(HWND window, const std::wstring& chosenPath) {
    const std::wstring path = FullPath(chosenPath);
    if (path.empty()) {
        ShowWarning(window, L"No file to open...");
        return;
    }
    // Replaces the header only when it reads completely. The file is closed
    // again at once: each Convert reopens it.
    GridStream stream;
    std::string problem;
    const bool isGrid = ReadGridHeader(path, stream, g_app.header, problem);
    CloseGridStream(stream);
    if (!isGrid) {
        ShowWarning(window, (L"Not proper ESRI ARC/INFO ASCII GRID file..." + HeaderProblemText(problem)).c_str());
        return;
    }
    g_app.inputPath = path;
    // The next open-file dialog starts in the grid file's folder, also after
    // a dropped file or one given at start, which never pass the dialog. The
    // output folder is taken from the full path, never from here.
    SetCurrentDirectoryW(path.substr(0, FileNameStart(path)).c_str());
    SplitGridPath(g_app.inputPath, g_app.inputStem, g_app.inputExt);

    ShowFileInfo(window);
    ShowWholeGridRegion(window);
    EnableAllSteps(window, true);
    EnableFloatingEstimate(window, false);
    UpdateEstimates(window);
    g_app.method = Interpolated;
    StartRegionPreview(window);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE);
}
