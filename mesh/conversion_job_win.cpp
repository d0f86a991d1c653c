#include "mesh/conversion_job_win.h"

#include <memory>

#include "app/app_state.h"
#include "ui/control_states_win.h"
#include "ui/controls_win.h"

// Everything here runs on the job thread, except the progress messages: those
// come from whichever of the job's workers is writing the output in its turn
// (one at a time). The job reads only its JobStart, made before the thread
// started, and the flags cancelRequested and closeRequested. Each call on a
// window is a synchronous message that the window thread carries out while
// the calling thread waits.

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

void ForwardSummary(void* context, const JobSummary& summary) {
    ShowJobSummary(WindowOf(context), summary);
}

JobHooks HooksForWindow(HWND window) {
    JobHooks hooks;
    hooks.context = window;
    hooks.progress = ForwardProgress;
    hooks.setStatus = ForwardStatus;
    hooks.cancelRequested = &g_app.cancelRequested;
    hooks.showSummary = ForwardSummary;
    return hooks;
}

}  // namespace

DWORD WINAPI RunConversionThread(LPVOID argument) {
    const std::unique_ptr<JobStart> start(static_cast<JobStart*>(argument));
    RunConversionJob(start->request, start->input, HooksForWindow(start->window));
    // The window thread re-enables the inputs and clears `converting` (or
    // ends the program, when the window is being closed).
    PostMessageW(start->window, kJobEndedMessage, 0, 0);
    return 0;
}

void ShowJobSummary(HWND window, const JobSummary& summary) {
    SetStatus(window, kStatusReady);
    // Closing the window cancelled the job: no box holds the program open.
    if (g_app.closeRequested) return;
    const SummaryMessage message = FormatJobSummary(summary);
    const UINT icon = message.warning ? MB_ICONWARNING : MB_ICONINFORMATION;
    MessageBoxW(window, message.text.c_str(), message.caption.c_str(), MB_OK | icon);
}
