#include "app/commands_win.h"

#include "app/app_state.h"
#include "grid/file_info_win.h"
#include "grid/file_selection_win.h"
#include "grid/region_estimates.h"
#include "mesh/conversion_job_win.h"
#include "ui/control_states_win.h"
#include "ui/controls_win.h"

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

// Starts the job thread for the chosen method and lets it run detached: the
// job itself clears `converting` when it ends.
void StartConversion(HWND window) {
    const LPTHREAD_START_ROUTINE entry = JobEntryFor(g_app.method);
    if (entry == nullptr) return;

    const float unitMeters = UnitsValue(ReadFieldText(GetDlgItem(window, IDC_UNITS)));
    if (!UnitsAreUsable(unitMeters)) {
        ShowWarning(window, L"Please enter a positive number of meters for one unit of your 3d "
                            L"application...");
        return;
    }

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
}

void HandleButton(HWND window, int id) {
    switch (id) {
    case IDC_SELECT_FILE: SelectGridFile(window); break;
    case IDC_METHOD_INTERPOLATED: ChooseMethod(window, Interpolated); break;
    case IDC_METHOD_FLOATING: ChooseMethod(window, FloatingPlanes); break;
    case IDC_CONVERT: ConvertOrCancel(window); break;
    default: break;
    }
}

// A clamp that rewrites its field re-enters here before it returns, so a
// rewritten keystroke updates the estimates twice; the second clamp finds the
// field within its limits and settles.
void HandleFieldChange(HWND window, int id, HWND field) {
    const GridHeader& header = g_app.header;
    switch (id) {
    case IDC_XMIN: ClampRegionField(field, header.ncols - 1); break;
    case IDC_YMIN: ClampRegionField(field, header.nrows - 1); break;
    case IDC_XMAX: ClampRegionField(field, header.ncols); break;
    case IDC_YMAX: ClampRegionField(field, header.nrows); break;
    case IDC_UNITS: ClampUnitsField(field); return;
    default: return;
    }
    UpdateEstimates(window);
}

}  // namespace

void HandleCommand(HWND window, WPARAM wParam, LPARAM lParam) {
    const int id = LOWORD(wParam);
    HandleButton(window, id);
    if (HIWORD(wParam) == EN_CHANGE) HandleFieldChange(window, id, reinterpret_cast<HWND>(lParam));
}
