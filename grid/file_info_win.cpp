#include "grid/file_info_win.h"

#include "app/app_state.h"
#include "grid/region_estimates.h"
#include "ui/controls_win.h"

namespace {

void SetText(HWND control, const std::wstring& text) {
    SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

int32_t ReadRegionField(HWND window, int id) {
    return LeadingInteger(ReadFieldText(GetDlgItem(window, id)));
}

}  // namespace

std::wstring ReadFieldText(HWND field) {
    wchar_t text[kFieldChars + 1] = {};
    GetWindowTextW(field, text, static_cast<int>(kFieldChars + 1));
    return text;
}

void ShowFileInfo(HWND window) {
    const FileInfoTexts texts = MakeFileInfoTexts(g_app.inputStem, g_app.inputExt, g_app.header);
    g_app.records = texts.records;
    SetText(FindControl(window, IDC_FILEINFO_VALUES1), texts.column1);
    SetText(FindControl(window, IDC_FILEINFO_VALUES2), texts.column2);
}

void ClampRegionField(HWND field, int32_t upperLimit) {
    const auto clamped = ClampedRegionText(ReadFieldText(field), upperLimit);
    if (clamped) SetText(field, *clamped);
}

void ClampUnitsField(HWND field) {
    if (UnitsTextIsNegative(ReadFieldText(field))) SetText(field, L"1.0");
}

void UpdateEstimates(HWND window) {
    g_app.region.xMin = ReadRegionField(window, IDC_XMIN);
    g_app.region.yMin = ReadRegionField(window, IDC_YMIN);
    g_app.region.xMax = ReadRegionField(window, IDC_XMAX);
    g_app.region.yMax = ReadRegionField(window, IDC_YMAX);

    const RegionEstimates estimates = EstimateRegion(g_app.region);
    SetText(FindControl(window, IDC_ESTIMATE_INTERPOLATED), InterpolatedEstimateText(estimates));
    SetText(FindControl(window, IDC_ESTIMATE_FLOATING), FloatingEstimateText(estimates));
}
