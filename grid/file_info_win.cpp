#include "grid/file_info_win.h"

#include <commctrl.h>

#include "app/app_state.h"
#include "grid/path_parts.h"
#include "grid/region_estimates.h"
#include "ui/controls_win.h"

namespace {

void SetText(HWND control, const std::wstring& text) {
    SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

// A correction made for the user leaves the caret after the text, where the
// typing goes on.
void CorrectFieldText(HWND field, const std::wstring& text) {
    SetText(field, text);
    const WPARAM end = static_cast<WPARAM>(text.size());
    SendMessageW(field, EM_SETSEL, end, static_cast<LPARAM>(end));
}

int32_t ReadRegionField(HWND window, int id) {
    return ClampedRegionValue(ReadFieldText(GetDlgItem(window, id)), RegionFieldLimit(id));
}

// The file name as it fits on the first line of the values column, in the
// panel's font: shortened in its middle until it fits, so it never wraps
// and pushes the counts below it off their labels.
std::wstring FittedFileName(HWND values, const std::wstring& name) {
    RECT box;
    GetClientRect(values, &box);
    const HDC dc = GetDC(values);
    const HGDIOBJ previousFont = SelectObject(dc, g_app.valueFont);
    std::wstring shown = name;
    for (std::size_t keep = name.size(); keep > 0 && TextWidth(dc, shown) > box.right;) {
        shown = MiddleEllipsis(name, --keep);
    }
    SelectObject(dc, previousFont);
    ReleaseDC(values, dc);
    return shown;
}

TTTOOLINFOW FileNameTool(HWND window) {
    const HWND values = FindControl(window, IDC_FILEINFO_VALUES1);
    TTTOOLINFOW tool = {};
    tool.cbSize = sizeof(tool);
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = GetParent(values);
    tool.uId = reinterpret_cast<UINT_PTR>(values);
    return tool;
}

}  // namespace

std::wstring ReadFieldText(HWND field) {
    wchar_t text[kFieldChars + 1] = {};
    GetWindowTextW(field, text, static_cast<int>(kFieldChars + 1));
    return text;
}

int32_t RegionFieldLimit(int id) {
    const GridHeader& header = g_app.header;
    switch (id) {
    case IDC_XMIN: return header.ncols - 1;
    case IDC_YMIN: return header.nrows - 1;
    case IDC_XMAX: return header.ncols;
    case IDC_YMAX: return header.nrows;
    default: break;
    }
    return 0;
}

void CreateFileNameTip(HWND window) {
    g_app.fileNameTip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                                        WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                                        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window, nullptr,
                                        GetModuleHandleW(nullptr), nullptr);
    TTTOOLINFOW tool = FileNameTool(window);
    tool.lpszText = const_cast<wchar_t*>(L"");
    SendMessageW(g_app.fileNameTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

void ShowFileInfo(HWND window) {
    const FileInfoTexts texts = MakeFileInfoTexts(g_app.inputStem, g_app.inputExt, g_app.header);
    g_app.records = texts.records;
    const HWND values = FindControl(window, IDC_FILEINFO_VALUES1);
    // The first line is the name; it is replaced by the whole name, shortened
    // to the column's width.
    const std::wstring name = g_app.inputStem + g_app.inputExt;
    const std::size_t nameEnd = texts.column1.find(L'\n');
    SetText(values, FittedFileName(values, name) + texts.column1.substr(nameEnd));
    SetText(FindControl(window, IDC_FILEINFO_VALUES2), texts.column2);

    TTTOOLINFOW tool = FileNameTool(window);
    tool.lpszText = const_cast<wchar_t*>(g_app.inputPath.c_str());
    SendMessageW(g_app.fileNameTip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
    // Long paths wrap instead of running off the screen.
    SendMessageW(g_app.fileNameTip, TTM_SETMAXTIPWIDTH, 0, ScaledLength(600));
}

bool RegionFieldWaits(HWND field) {
    return GetFocus() == field && GetWindowTextLengthW(field) == 0;
}

void ClampRegionField(HWND field, int32_t upperLimit) {
    const auto clamped = ClampedRegionText(ReadFieldText(field), upperLimit);
    if (clamped) CorrectFieldText(field, *clamped);
}

void ClampUnitsField(HWND field) {
    if (UnitsTextIsNegative(ReadFieldText(field))) CorrectFieldText(field, L"1.0");
}

void UpdateEstimates(HWND window) {
    g_app.region.xMin = ReadRegionField(window, IDC_XMIN);
    g_app.region.yMin = ReadRegionField(window, IDC_YMIN);
    g_app.region.xMax = ReadRegionField(window, IDC_XMAX);
    g_app.region.yMax = ReadRegionField(window, IDC_YMAX);

    const RegionEstimates estimates = EstimateRegion(g_app.region);
    SetText(FindControl(window, IDC_ESTIMATE_INTERPOLATED), InterpolatedEstimateText(estimates));
    SetText(FindControl(window, IDC_ESTIMATE_FLOATING), FloatingEstimateText(estimates));
    // The region picture draws the region.
    InvalidateRect(FindControl(window, IDC_REGION_PICTURE), nullptr, FALSE);
}
