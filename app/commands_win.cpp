#include "app/commands_win.h"

#include <cmath>
#include <filesystem>
#include <memory>
#include <optional>
#include <utility>

#include "app/app_state.h"
#include "grid/file_info_win.h"
#include "grid/file_selection_win.h"
#include "grid/grid_reader.h"
#include "grid/ground_units.h"
#include "grid/path_parts.h"
#include "grid/region_estimates.h"
#include "mesh/conversion_job_win.h"
#include "ui/control_states_win.h"
#include "ui/controls_win.h"
#include "ui/focus_win.h"
#include "ui/output_dialog_win.h"
#include "ui/region_picture_win.h"

namespace {

// The largest height error as the field holds it: a number (a decimal comma
// taken as the point) of at least 0 and nothing else; otherwise nothing.
std::optional<double> MaxErrorFromText(const std::wstring& text) {
    const FieldNumber number = ReadFieldNumber(text);
    if (!number.alone || !std::isfinite(number.value) || number.value < 0.0) return std::nullopt;
    return number.value;
}

// A negative error is put back to the default while it is typed, as the
// units field does with a negative number.
void ClampMaxErrorField(HWND field) {
    const std::wstring text = ReadFieldText(field);
    const std::optional<double> value = MaxErrorFromText(text);
    if (value || text.find(L'-') == std::wstring::npos) return;
    SetWindowTextW(field, kDefaultMaxErrorText);
    SendMessageW(field, EM_SETSEL, 3, 3);
}

// The error the job gets: the field's number, or the default, which the
// field then shows again, when the field is empty or holds no usable number.
double ReadyMaxError(HWND window) {
    const HWND field = FindControl(window, IDC_MAX_ERROR);
    const std::optional<double> value = MaxErrorFromText(ReadFieldText(field));
    if (value) return *value;
    SetWindowTextW(field, kDefaultMaxErrorText);
    return kDefaultMaxError;
}

// The Interpolated estimate: its counts, or dashes while the Simplified box
// is ticked, whose counts are known only once converted.
void ShowInterpolatedEstimate(HWND window) {
    if (g_app.inputPath.empty()) return;
    UpdateEstimates(window);
    const HWND box = FindControl(window, IDC_SIMPLIFIED);
    if (SendMessageW(box, BM_GETCHECK, 0, 0) != BST_CHECKED) return;
    SetWindowTextW(FindControl(window, IDC_ESTIMATE_INTERPOLATED), L"\x2014\n\x2014\n\x2014");
}

// The button names what OK chose; a binary format or a fitted size takes the
// True scale geometry, and the geometry's list shows it.
void ChooseOutput(HWND window) {
    if (!ChooseOutputInDialog(window)) return;
    SetOutputButtonText(window);
    EnableGeometryChoices(window);
}

void ChooseMethod(HWND window, MeshMethod method) {
    EnableInterpolatedEstimate(window, method == Interpolated);
    EnableFloatingEstimate(window, method == FloatingPlanes);
    SelectMethod(window, method);
}

// The selected grid file as it is now, reopened into the job's own stream.
// False, after a warning, when it can no longer be read or its header differs
// from the one shown: nothing is converted from a file the user has not seen,
// and the file info stays so the user can select it again.
bool ReopenSelectedGrid(HWND window, GridStream& input) {
    GridHeader now;
    std::string problem;
    if (!ReadGridHeader(WidePath(g_app.inputPath), input, now, problem)) {
        ShowWarning(window, (L"The grid file can no longer be read: " + g_app.inputPath + HeaderProblemText(problem)).c_str());
        return false;
    }
    if (!SameGridHeader(now, g_app.header)) {
        CloseGridStream(input);
        ShowWarning(window, (L"The grid file has changed since it was selected; please select it again: " +
                             g_app.inputPath).c_str());
        return false;
    }
    return true;
}

// Everything the job reads, copied on the window thread, so nothing the user
// does meanwhile reaches a running job.
JobRequest RequestFromWindow(HWND window, float unitMeters) {
    JobRequest request;
    request.method = g_app.method;
    if (SimplifiedChosen(window)) {
        request.method = Simplified;
        request.maxError = ReadyMaxError(window);
    }
    request.format = g_app.output.format;
    request.normals = g_app.output.normals;
    request.texture = g_app.output.texture;
    if (request.texture == TextureChoice::Image) request.texturePath = WidePath(g_app.output.texturePath);
    request.solid = g_app.output.solid;
    request.solidBase = g_app.output.solidBase;
    request.fitMillimetres = g_app.output.fitMillimetres;
    request.exaggerate = g_app.output.exaggerate;
    request.geometry = ChosenGeometry(window);
    request.up = ChosenUpAxis(window);
    // True scale reads the unit of the grid's coordinates from a .prj beside it.
    request.hasProjection = ReadProjectionBeside(WidePath(g_app.inputPath), request.projection);
    request.writeHeightBitmap = HeightBitmapChosen(window);
    request.header = g_app.header;
    request.region = g_app.region;
    request.unitMeters = unitMeters;
    request.inputStem = g_app.inputStem;
    // The output lands beside the grid file, in the folder of its full path,
    // whatever the current directory is: the open-file dialog moves that to
    // the folder of any file chosen, grid or not.
    request.outputDir = WidePath(g_app.inputPath).parent_path();
    // Empty timestamp: the local time when the job writes the header.
    return request;
}

// Disables the inputs, then starts the job thread; the window thread learns
// of the job's end through kJobEndedMessage (EndConversion).
void LaunchJob(HWND window, std::unique_ptr<JobStart> start) {
    // The job has the processor to itself; a preview cut short is read again
    // after it (EndConversion).
    StopRegionPreview();
    g_app.cancelRequested = false;
    SetConverting(window, true);
    EnableInputSteps(window, false);
    const HANDLE thread = CreateThread(nullptr, 0, RunConversionThread, start.get(), 0, nullptr);
    if (thread == nullptr) {
        CloseGridStream(start->input);
        EnableInputSteps(window, true);
        SetConverting(window, false);
        ShowWarning(window, L"The conversion could not be started...");
        return;
    }
    start.release();  // the job thread owns it now
    g_app.jobThread = thread;
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
// decimal comma taken as the point); otherwise warns and gives nothing. A
// fitted size sets the scale itself: the field, greyed, is not read, and the
// job gets the units the converter takes without --units.
std::optional<float> ReadyUnits(HWND window) {
    if (g_app.output.fitMillimetres > 0.0) return 1.0f;
    const std::optional<float> units = UnitsFromText(ReadFieldText(GetDlgItem(window, IDC_UNITS)));
    if (units && UnitsAreUsable(*units)) return units;
    WarnAboutField(window, IDC_UNITS,
                   L"Please enter a positive number of meters for one unit of your 3d application...");
    return std::nullopt;
}

// A solid is closed around one connected surface, which Floating planes'
// separate squares are not: refused with the Interpolated button focused.
bool MethodMakesSolid(HWND window) {
    if (!g_app.output.solid || g_app.method != FloatingPlanes) return true;
    WarnAboutField(window, IDC_METHOD_INTERPOLATED,
                   L"A solid for 3D printing is built on the Interpolated surface (simplified or not). Please "
                   L"choose Interpolated, or clear \"Solid for 3D printing\" under Output...");
    return false;
}

void StartConversion(HWND window) {
    if (g_app.method != Interpolated && g_app.method != FloatingPlanes) return;

    if (!MethodMakesSolid(window)) return;

    if (!RegionIsReady(window)) return;
    const std::optional<float> units = ReadyUnits(window);
    if (!units) return;
    const float unitMeters = *units;

    auto start = std::make_unique<JobStart>();
    if (!ReopenSelectedGrid(window, start->input)) return;
    start->window = window;
    start->request = RequestFromWindow(window, unitMeters);
    g_app.unitMeters = unitMeters;
    LaunchJob(window, std::move(start));
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
    case IDC_SELECT_FILE:
        SelectGridFile(window);
        GridSelected(window);
        break;
    case IDC_SIMPLIFIED: ShowInterpolatedEstimate(window); break;
    case IDC_METHOD_INTERPOLATED: ChooseMethod(window, Interpolated); break;
    case IDC_METHOD_FLOATING: ChooseMethod(window, FloatingPlanes); break;
    case IDC_OUTPUT: ChooseOutput(window); break;
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
    if (id == IDC_MAX_ERROR) {
        ClampMaxErrorField(field);
        return;
    }
    if (!IsRegionField(id)) return;
    if (!RegionFieldWaits(field)) ClampRegionField(field, RegionFieldLimit(id));
    ShowInterpolatedEstimate(window);
}

}  // namespace

void GridSelected(HWND window) {
    EnableSimplifiedChoice(window);
    ShowInterpolatedEstimate(window);
}

void EndConversion(HWND window) {
    if (g_app.jobThread == nullptr) return;
    // The thread posted its end as its last step: this wait is short.
    WaitForSingleObject(g_app.jobThread, INFINITE);
    CloseHandle(g_app.jobThread);
    g_app.jobThread = nullptr;
    // A cancel pressed after the job's end is dropped with the job it meant.
    g_app.cancelRequested = false;
    // The inputs come back before Convert means Convert again.
    EnableInputSteps(window, true);
    SetConverting(window, false);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE);
    if (!g_app.closeRequested) ResumeRegionPreview(window);
    if (g_app.closeRequested) DestroyWindow(window);
}

void CloseMainWindow(HWND window) {
    if (g_app.jobThread == nullptr) {
        DestroyWindow(window);
        return;
    }
    g_app.closeRequested = true;
    g_app.cancelRequested = true;
}

void HandleCommand(HWND window, WPARAM wParam, LPARAM lParam) {
    const int id = LOWORD(wParam);
    const HWND control = reinterpret_cast<HWND>(lParam);
    HandleButton(window, id);
    if (HIWORD(wParam) == EN_CHANGE) HandleFieldChange(window, id, control);
    if (HIWORD(wParam) == CBN_SELCHANGE && id == IDC_GEOMETRY) EnableGeometryChoices(window);
    // A region field left empty is refilled when the focus leaves it.
    if (HIWORD(wParam) == EN_KILLFOCUS && IsRegionField(id)) {
        ClampRegionField(control, RegionFieldLimit(id));
    }
}
