#include "ui/control_states_win.h"

#include <commctrl.h>

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "format/mesh_format.h"
#include "mesh/conversion_job.h"
#include "ui/controls_win.h"
#include "ui/output_dialog_win.h"

namespace {

template <std::size_t N>
void EnableControls(HWND window, const int (&ids)[N], bool enable) {
    for (int id : ids) EnableWindow(FindControl(window, id), enable ? TRUE : FALSE);
}

constexpr int kFileInfoControls[] = {
    IDC_FILEINFO_FRAME,   IDC_FILEINFO_CAPTION, IDC_FILEINFO_LABELS1,
    IDC_FILEINFO_VALUES1, IDC_FILEINFO_LABELS2, IDC_FILEINFO_VALUES2,
};
constexpr int kRegionControls[] = {
    IDC_STEP2_FRAME, IDC_STEP2_CAPTION, IDC_REGION_NOTE, IDC_XMIN_LABEL, IDC_YMIN_LABEL,
    IDC_XMAX_LABEL,  IDC_YMAX_LABEL,    IDC_XMIN,        IDC_YMIN,       IDC_XMAX,
    IDC_YMAX,
};
constexpr int kMethodControls[] = {
    IDC_STEP3_FRAME,
    IDC_STEP3_CAPTION,
    IDC_METHOD_INTERPOLATED,
    IDC_METHOD_FLOATING,
    IDC_ESTIMATE_LABELS_INTERPOLATED,
    IDC_ESTIMATE_INTERPOLATED,
    IDC_ESTIMATE_LABELS_FLOATING,
    IDC_ESTIMATE_FLOATING,
};
constexpr int kSimplifiedControls[] = {IDC_SIMPLIFIED, IDC_MAX_ERROR};
constexpr int kInterpolatedEstimate[] = {IDC_ESTIMATE_LABELS_INTERPOLATED, IDC_ESTIMATE_INTERPOLATED};
constexpr int kFloatingEstimate[] = {IDC_ESTIMATE_LABELS_FLOATING, IDC_ESTIMATE_FLOATING};
// The geometry's lists follow the format and the geometry, and the units a
// fitted size (EnableGeometryChoices).
constexpr int kUnitsControls[] = {IDC_STEP4_FRAME, IDC_STEP4_CAPTION, IDC_UNITS_LABEL, IDC_UNITS,
                                  IDC_GEOMETRY_LABEL, IDC_OUTPUT};
constexpr int kUnitsChoice[] = {IDC_UNITS_LABEL, IDC_UNITS};
constexpr int kConvertControls[] = {IDC_STEP5_FRAME, IDC_STEP5_CAPTION, IDC_STATUS, IDC_PROGRESS,
                                    IDC_HEIGHT_BITMAP, IDC_CONVERT};
// The inputs of step 5, which a running job greys with those of steps 1 to 4.
constexpr int kOutputInputs[] = {IDC_HEIGHT_BITMAP};

int ChosenItem(HWND window, int id) {
    return static_cast<int>(SendMessageW(FindControl(window, id), CB_GETCURSEL, 0, 0));
}

constexpr int kSelectFileControls[] = {IDC_SELECT_FILE};

enum class ButtonLook { Normal, Hot, Pressed };

ButtonLook LookOf(UINT itemState) {
    if (itemState & CDIS_SELECTED) return ButtonLook::Pressed;
    if (itemState & CDIS_HOT) return ButtonLook::Hot;
    return ButtonLook::Normal;
}

// Indices into the image arrays of AppState, in resource order.
constexpr int kSelectHot = 0, kSelectNormal = 1, kSelectPressed = 2;
constexpr int kInterpolatedColour = 0, kInterpolatedGrey = 1, kFloatingColour = 2, kFloatingGrey = 3;
constexpr int kConvertHot = 0, kConvertNormal = 1, kConvertPressed = 2, kConvertDisabled = 3,
              kCancelPressed = 4, kCancelNormal = 5, kCancelHot = 6;

HICON SelectFileImage(ButtonLook look) {
    switch (look) {
    case ButtonLook::Pressed: return g_app.selectFileImages[kSelectPressed];
    case ButtonLook::Hot: return g_app.selectFileImages[kSelectHot];
    case ButtonLook::Normal: break;
    }
    return g_app.selectFileImages[kSelectNormal];
}

// A method button is coloured while it is the chosen method, hot or pressed.
HICON MethodImage(ButtonLook look, MeshMethod buttonMethod) {
    const bool coloured = look != ButtonLook::Normal || g_app.method == buttonMethod;
    if (buttonMethod == Interpolated) {
        return g_app.methodImages[coloured ? kInterpolatedColour : kInterpolatedGrey];
    }
    return g_app.methodImages[coloured ? kFloatingColour : kFloatingGrey];
}

// CANCEL images while a job runs, CONVERT images otherwise.
HICON ConvertImage(ButtonLook look, HWND button) {
    const bool converting = g_app.converting.load();
    switch (look) {
    case ButtonLook::Pressed:
        return g_app.convertImages[converting ? kCancelPressed : kConvertPressed];
    case ButtonLook::Hot:
        return g_app.convertImages[converting ? kCancelHot : kConvertHot];
    case ButtonLook::Normal:
        break;
    }
    if (converting) return g_app.convertImages[kCancelNormal];
    return g_app.convertImages[IsWindowEnabled(button) ? kConvertNormal : kConvertDisabled];
}

HICON ImageButtonImage(UINT_PTR id, ButtonLook look, HWND button) {
    switch (id) {
    case IDC_SELECT_FILE: return SelectFileImage(look);
    case IDC_METHOD_INTERPOLATED: return MethodImage(look, Interpolated);
    case IDC_METHOD_FLOATING: return MethodImage(look, FloatingPlanes);
    case IDC_CONVERT: return ConvertImage(look, button);
    default: break;
    }
    return nullptr;
}

}  // namespace

void SetStatus(HWND window, const wchar_t* text) {
    // The line holds at most 127 characters.
    std::wstring line = std::wstring(L"Status: ") + text;
    if (line.size() > 127) line.resize(127);
    SendMessageW(FindControl(window, IDC_STATUS), WM_SETTEXT, 0,
                 reinterpret_cast<LPARAM>(line.c_str()));
}

void SetConverting(HWND window, bool converting) {
    g_app.converting = converting;
    RedrawWindow(FindControl(window, IDC_CONVERT), nullptr, nullptr, RDW_INVALIDATE);
}

void EnableFileInfo(HWND window, bool enable) {
    EnableControls(window, kFileInfoControls, enable);
}

void EnableRegionGroup(HWND window, bool enable) {
    g_app.regionEnabled = enable;
    EnableControls(window, kRegionControls, enable);
    InvalidateRect(FindControl(window, IDC_REGION_PICTURE), nullptr, FALSE);
}

void EnableMethodGroup(HWND window, bool enable) {
    EnableControls(window, kMethodControls, enable);
    EnableSimplifiedChoice(window);
}

void EnableSimplifiedChoice(HWND window) {
    const bool enable =
        g_app.method == Interpolated && IsWindowEnabled(FindControl(window, IDC_METHOD_INTERPOLATED));
    EnableControls(window, kSimplifiedControls, enable);
}

void EnableInterpolatedEstimate(HWND window, bool enable) {
    EnableControls(window, kInterpolatedEstimate, enable);
}

void EnableFloatingEstimate(HWND window, bool enable) {
    EnableControls(window, kFloatingEstimate, enable);
}

void EnableUnitsGroup(HWND window, bool enable) {
    EnableControls(window, kUnitsControls, enable);
    EnableGeometryChoices(window);
}

void EnableGeometryChoices(HWND window) {
    const bool enable = IsWindowEnabled(FindControl(window, IDC_STEP4_CAPTION)) != FALSE;
    const bool fitted = g_app.output.fitMillimetres > 0.0;
    const bool trueScaleOnly = IsBinaryFormat(g_app.output.format) || fitted;
    const HWND geometry = FindControl(window, IDC_GEOMETRY);
    if (trueScaleOnly) SendMessageW(geometry, CB_SETCURSEL, TrueScaleGeometry, 0);
    EnableWindow(geometry, enable && !trueScaleOnly ? TRUE : FALSE);
    EnableControls(window, kUnitsChoice, enable && !fitted);
    const bool trueScale = ChosenItem(window, IDC_GEOMETRY) == TrueScaleGeometry;
    const HWND axis = FindControl(window, IDC_UP_AXIS);
    UpAxis own = ZUp;
    const bool fixed = FormatsOwnUpAxis(g_app.output.format, own);
    if (!trueScale || fixed) SendMessageW(axis, CB_SETCURSEL, fixed ? own : ZUp, 0);
    EnableWindow(axis, enable && trueScale && !fixed ? TRUE : FALSE);
}

// Whether `text` (its access-key mark aside) fits the button's face in the
// button's font, with a margin each side as wide as an "n".
bool FitsButton(HWND button, std::wstring text) {
    text.erase(std::remove(text.begin(), text.end(), L'&'), text.end());
    RECT face = {};
    GetClientRect(button, &face);
    const HDC dc = GetDC(button);
    const HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(button, WM_GETFONT, 0, 0)));
    const bool fits = TextWidth(dc, text) + 2 * TextWidth(dc, L"n") <= face.right - face.left;
    SelectObject(dc, previous);
    ReleaseDC(button, dc);
    return fits;
}

void SetOutputButtonText(HWND window) {
    const OutputChoice& output = g_app.output;
    std::vector<std::wstring> extras;
    if (output.solid) extras.push_back(L"solid");
    if (output.fitMillimetres > 0.0) extras.push_back(ChoiceNumberText(output.fitMillimetres) + L" mm");
    if (output.texture == TextureChoice::Relief) extras.push_back(L"relief");
    if (output.texture == TextureChoice::Image) extras.push_back(L"image");
    if (output.texture == TextureChoice::None && FormatWritesNormals(output.format, output.normals)) extras.push_back(L"normals");
    const HWND button = FindControl(window, IDC_OUTPUT);
    std::wstring text = L"&Output: " + FormatShownName(output.format);
    for (const std::wstring& extra : extras) {
        if (FitsButton(button, text + L", " + extra + L"\x2026")) text += L", " + extra;
    }
    SetWindowTextW(button, (text + L"\x2026").c_str());
}

MeshGeometryKind ChosenGeometry(HWND window) {
    return ChosenItem(window, IDC_GEOMETRY) == TrueScaleGeometry ? TrueScaleGeometry : ClassicGeometry;
}

UpAxis ChosenUpAxis(HWND window) {
    return ChosenGeometry(window) == TrueScaleGeometry && ChosenItem(window, IDC_UP_AXIS) == YUp ? YUp : ZUp;
}

bool HeightBitmapChosen(HWND window) {
    return SendMessageW(FindControl(window, IDC_HEIGHT_BITMAP), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

bool SimplifiedChosen(HWND window) {
    const HWND box = FindControl(window, IDC_SIMPLIFIED);
    return IsWindowEnabled(box) && SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void EnableAllSteps(HWND window, bool enable) {
    EnableFileInfo(window, enable);
    EnableRegionGroup(window, enable);
    EnableMethodGroup(window, enable);
    EnableUnitsGroup(window, enable);
    EnableControls(window, kConvertControls, enable);
}

void EnableInputSteps(HWND window, bool enable) {
    EnableControls(window, kSelectFileControls, enable);
    EnableFileInfo(window, enable);
    EnableRegionGroup(window, enable);
    EnableMethodGroup(window, enable);
    EnableUnitsGroup(window, enable);
    EnableControls(window, kOutputInputs, enable);
}

void SelectMethod(HWND window, MeshMethod method) {
    g_app.method = method;
    EnableSimplifiedChoice(window);
    RedrawWindow(FindControl(window, IDC_METHOD_INTERPOLATED), nullptr, nullptr, RDW_INVALIDATE);
    RedrawWindow(FindControl(window, IDC_METHOD_FLOATING), nullptr, nullptr, RDW_INVALIDATE);
}

void DrawImageButton(HWND, const NMHDR* header) {
    if (header->code != static_cast<UINT>(NM_CUSTOMDRAW)) return;
    const UINT_PTR id = header->idFrom;
    if (id != IDC_SELECT_FILE && id != IDC_METHOD_INTERPOLATED && id != IDC_METHOD_FLOATING &&
        id != IDC_CONVERT) {
        return;
    }
    const auto* draw = reinterpret_cast<const NMCUSTOMDRAW*>(header);
    const HICON image = ImageButtonImage(id, LookOf(draw->uItemState), header->hwndFrom);
    DrawIconEx(draw->hdc, 0, 0, image, 0, 0, 0, nullptr, DI_NORMAL | DI_COMPAT);
    // The images carry no focus cue of their own: a dotted frame inside the
    // edge shows which button Space and Enter press.
    if (draw->uItemState & CDIS_FOCUS) {
        RECT focus = draw->rc;
        InflateRect(&focus, -ScaledLength(4), -ScaledLength(4));
        DrawFocusRect(draw->hdc, &focus);
    }
}

void ShowWarning(HWND window, const wchar_t* text) {
    MessageBoxW(window, text, L"Ooups!", MB_ICONWARNING | MB_OK);
}
