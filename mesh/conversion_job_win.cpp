#include "mesh/conversion_job_win.h"

#include "app/app_state.h"
#include "grid/grid_reader.h"
#include "ui/control_states_win.h"
#include "ui/controls_win.h"

// Everything here runs on the job thread. The fields of g_app it reads
// (inputPath, inputStem, header, region, unitMeters, method) cannot change
// meanwhile: the job disables every control that writes them until it has
// cleared `converting`. Each call on a window is a synchronous message that
// the window thread carries out while the job waits.

namespace {

HWND WindowOf(void* context) {
    return static_cast<HWND>(context);
}

void ForwardProgress(void* context, unsigned message, uint64_t wParam, int64_t lParam) {
    SendMessageW(FindControl(WindowOf(context), IDC_PROGRESS), message,
                 static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam));
}

void ForwardStatus(void* context, const wchar_t* text) {
    SetStatus(WindowOf(context), text);
}

void ForwardEnableInputs(void* context, bool enable) {
    EnableInputSteps(WindowOf(context), enable);
}

void ForwardSummary(void* context, const JobSummary& summary) {
    ShowJobSummary(WindowOf(context), summary);
}

JobRequest RequestFromState(MeshMethod method) {
    JobRequest request;
    request.method = method;
    request.header = g_app.header;
    request.region = g_app.region;
    request.unitMeters = g_app.unitMeters;
    request.inputStem = g_app.inputStem;
    // Empty output folder and timestamp: the current directory (the grid
    // file's folder) and the local time now.
    return request;
}

JobHooks HooksForWindow(HWND window) {
    JobHooks hooks;
    hooks.context = window;
    hooks.progress = ForwardProgress;
    hooks.setStatus = ForwardStatus;
    hooks.enableInputs = ForwardEnableInputs;
    hooks.cancelRequested = &g_app.cancelRequested;
    hooks.showSummary = ForwardSummary;
    return hooks;
}

DWORD RunJob(LPVOID window, MeshMethod method) {
    RunConversionJob(RequestFromState(method), g_app.inputStream,
                     HooksForWindow(static_cast<HWND>(window)));
    return 0;
}

}  // namespace

DWORD WINAPI RunInterpolatedJob(LPVOID window) {
    return RunJob(window, Interpolated);
}

DWORD WINAPI RunFloatingPlanesJob(LPVOID window) {
    return RunJob(window, FloatingPlanes);
}

void ShowJobSummary(HWND window, const JobSummary& summary) {
    // One reading decides between the finished and the cancelled summary.
    const bool cancelled = g_app.cancelRequested.load();
    // Reopens the grid so that a further job starts at its first data line.
    ReadGridHeader(g_app.inputPath, g_app.inputStream, g_app.header);
    SetStatus(window, kStatusReady);

    const SummaryMessage message = FormatJobSummary(summary, cancelled);
    const UINT icon = message.failure ? MB_ICONWARNING : MB_ICONINFORMATION;
    MessageBoxW(window, message.text.c_str(), message.caption.c_str(), MB_OK | icon);

    // A cancel pressed after the snapshot is dropped with the job it meant.
    g_app.cancelRequested = false;
    g_app.converting = false;
    EnableInputSteps(window, true);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE);
}
