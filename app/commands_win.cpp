#include "app/commands_win.h"

#include <optional>

#include "app/app_state.h"
#include "grid/file_info_win.h"
#include "grid/file_selection_win.h"
#include "grid/region_estimates.h"
#include "mesh/conversion_job_win.h"
#include "ui/control_states_win.h"
#include "ui/controls_win.h"
#include "ui/focus_win.h"

namespace {

void ChooseMethod(HWND window, MeshMethod method) {
    EnableInterpolatedEstimate(window, method == Interpolated);
    EnableFloatingEstimate(window, method == FloatingPlanes);
    SelectMethod(window, method);
}

LPTHREAD_START_ROUTINE JobEntryFor(MeshMethod method) {
    switch (method) {
    case Interpolated: return RunInterpolatedJob;
    case FloatingPlanes: return RunFloatingPlanesJob;
    case MethodNone: break;
    }
    return nullptr;
}

constexpr int kRegionFields[] = {IDC_XMIN, IDC_YMIN, IDC_XMAX, IDC_YMAX};

// A warning about one field; the focus goes back to that field, its text
// selected for retyping.
void WarnAboutField(HWND window, int id, const wchar_t* text) {
    ShowWarning(window, text);
    FocusControl(window, id);
}

// Refills a region field left empty while it waited for typing, and refuses
// an empty region; true when the region can be converted.
bool RegionIsReady(HWND window) {
    for (int id : kRegionFields) ClampRegionField(GetDlgItem(window, id), RegionFieldLimit(id));
    if (!RegionIsEmpty(g_app.region)) return true;
    const int field = g_app.region.xMin > g_app.region.xMax ? IDC_XMIN : IDC_YMIN;
    WarnAboutField(window, field, L"The region is empty...");
    return false;
}

// The units field as a number of meters when it holds a usable one (a
// decimal comma taken as the point); otherwise warns and gives nothing.
std::optional<float> ReadyUnits(HWND window) {
    const std::optional<float> units = UnitsFromText(ReadFieldText(GetDlgItem(window, IDC_UNITS)));
    if (units && UnitsAreUsable(*units)) return units;
    WarnAboutField(window, IDC_UNITS,
                   L"Please enter a positive number of meters for one unit of your 3d application...");
    return std::nullopt;
}

// Starts the job thread for the chosen method and lets it run detached: the
// job itself clears `converting` when it ends.
void StartConversion(HWND window) {
    const LPTHREAD_START_ROUTINE entry = JobEntryFor(g_app.method);
    if (entry == nullptr) return;

    if (!RegionIsReady(window)) return;
    const std::optional<float> units = ReadyUnits(window);
    if (!units) return;
    const float unitMeters = *units;

    // Both are written before the thread exists, so the job sees them.
    g_app.converting = true;
    g_app.unitMeters = unitMeters;
    const HANDLE thread = CreateThread(nullptr, 0, entry, window, 0, nullptr);
    if (thread == nullptr) {
        g_app.converting = false;
        ShowWarning(window, L"The conversion could not be started...");
        return;
    }
    CloseHandle(thread);
}

// The Convert button doubles as Cancel while a job runs.
void ConvertOrCancel(HWND window) {
    if (g_app.converting) {
        g_app.cancelRequested = true;
        return;
    }
    StartConversion(window);
    // The inputs are disabled now: Space, Enter and Esc reach Cancel.
    if (g_app.converting) FocusControl(window, IDC_CONVERT);
}

void HandleButton(HWND window, int id);

// A button pressed from the keyboard acts only while it is enabled.
void PressButton(HWND window, int id) {
    if (IsWindowEnabled(FindControl(window, id))) HandleButton(window, id);
}

void HandleButton(HWND window, int id) {
    switch (id) {
    // The dialog keys: Enter presses the focused button, or Convert from a
    // field; Esc cancels a running job.
    case IDOK: PressButton(window, EnterButton(window)); break;
    case IDCANCEL:
        if (g_app.converting) PressButton(window, IDC_CONVERT);
        break;
    case IDC_SELECT_FILE: SelectGridFile(window); break;
    case IDC_METHOD_INTERPOLATED: ChooseMethod(window, Interpolated); break;
    case IDC_METHOD_FLOATING: ChooseMethod(window, FloatingPlanes); break;
    case IDC_CONVERT: ConvertOrCancel(window); break;
    default: break;
    }
}

bool IsRegionField(int id) {
    return id >= IDC_XMIN && id <= IDC_YMAX;
}

// A clamp that rewrites its field re-enters here before it returns, so a
// rewritten keystroke updates the estimates twice; the second clamp finds the
// field within its limits and settles. A field emptied while it has the
// focus waits for the typing to go on.
void HandleFieldChange(HWND window, int id, HWND field) {
    if (id == IDC_UNITS) {
        ClampUnitsField(field);
        return;
    }
    if (!IsRegionField(id)) return;
    if (!RegionFieldWaits(field)) ClampRegionField(field, RegionFieldLimit(id));
    UpdateEstimates(window);
}

}  // namespace

void HandleCommand(HWND window, WPARAM wParam, LPARAM lParam) {
    const int id = LOWORD(wParam);
    const HWND control = reinterpret_cast<HWND>(lParam);
    HandleButton(window, id);
    if (HIWORD(wParam) == EN_CHANGE) HandleFieldChange(window, id, control);
    // A region field left empty is refilled when the focus leaves it.
    if (HIWORD(wParam) == EN_KILLFOCUS && IsRegionField(id)) {
        ClampRegionField(control, RegionFieldLimit(id));
    }
}
