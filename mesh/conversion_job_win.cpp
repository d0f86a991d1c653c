#include "mesh/conversion_job_win.h"

#include <windows.h>
#include <commctrl.h>

#include <memory>
#include <string>

#include "app/app_state.h"
#include "grid/path_parts.h"
#include "ui/control_states_win.h"
#include "ui/controls_win.h"
#include "ui/dpi_win.h"

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

// The bar runs from 0 to 100 over the job and goes back to 0 at its end.
void ForwardProgress(void* context, JobPhase phase, double fraction) {
    const HWND bar = FindControl(WindowOf(context), IDC_PROGRESS);
    if (phase == JobPhase::Started) SendMessageW(bar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    const int position = phase == JobPhase::Working ? static_cast<int>(fraction * 100.0 + 0.5) : 0;
    SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void ForwardStatus(void* context, const wchar_t* text) {
    SetStatus(WindowOf(context), text);
}

void ForwardSummary(void* context, const JobSummary& summary) {
    ShowJobSummary(WindowOf(context), summary);
}

// The path in lines no wider than `width` in the font selected into `dc`,
// each broken after its last folder separator that leaves it narrow enough,
// or within a name too long for a line of its own.
std::wstring BrokenPath(HDC dc, const std::wstring& path, int width) {
    std::wstring lines;
    std::wstring line;
    for (wchar_t c : path) {
        line += c;
        if (line.size() < 2 || TextWidth(dc, line) <= width) continue;
        const std::size_t separator = line.find_last_of(L"\\/", line.size() - 2);
        const std::size_t cut = separator == std::wstring::npos ? line.size() - 1 : separator + 1;
        lines += line.substr(0, cut) + L'\n';
        line.erase(0, cut);
    }
    return lines + line;
}

// The summary's text as the box shows it. A box is as wide as its longest
// line, and a path has no spaces to break at, so a path wider than half the
// work area is broken into lines here, in the box's own font; everywhere
// else (FormatJobSummary, the command-line converter) the path stays whole.
std::wstring BoxText(HWND window, const std::wstring& text, const std::wstring& path) {
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor);
    const int width = (monitor.rcWork.right - monitor.rcWork.left) / 2;
    const NONCLIENTMETRICSW metrics = NonClientMetricsForDpi(WindowDpi(window));
    const HFONT font = CreateFontIndirectW(&metrics.lfMessageFont);
    const HDC dc = CreateCompatibleDC(nullptr);
    const HGDIOBJ previous = SelectObject(dc, font);
    std::wstring shown = text;
    if (!path.empty() && TextWidth(dc, path) > width) {
        const std::wstring broken = BrokenPath(dc, path, width);
        for (std::size_t at = shown.find(path); at != std::wstring::npos; at = shown.find(path, at + broken.size())) {
            shown.replace(at, path.size(), broken);
        }
    }
    SelectObject(dc, previous);
    DeleteDC(dc);
    DeleteObject(font);
    return shown;
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
    const std::wstring text = BoxText(window, message.text, PathToWide(summary.outputPath));
    MessageBoxW(window, text.c_str(), message.caption.c_str(), MB_OK | icon);
}
