// The Output dialog: an empty modal frame from a template made here, whose
// controls are created from a table at the window's DPI and in its caption
// font, as the main window's are. The dialog edits g_app.outputDraft; OK
// makes it g_app.output once its fields hold numbers it can use.
#include "ui/output_dialog_win.h"

#include <commctrl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "format/mesh_format.h"
#include "grid/file_info_win.h"
#include "grid/file_selection_win.h"
#include "grid/path_parts.h"
#include "grid/region_estimates.h"
#include "ui/control_states_win.h"
#include "ui/controls_win.h"
#include "ui/dpi_win.h"

namespace {

struct DialogControl {
    int id;
    const wchar_t* className;
    const wchar_t* text;
    DWORD style;              // besides WS_CHILD | WS_VISIBLE
    int x, y, width, height;  // at 96 DPI, in the dialog's client area
};

// In keyboard order, a row for each choice with its label on the left: the
// file's choices, then the model's in a framed column of their own on the
// right, from the top down to the buttons' foot, then the buttons.
// clang-format off
const DialogControl kDialogControls[] = {
    {IDC_FORMAT_LABEL, L"STATIC", L"&Format:", SS_LEFT, 12, 15, 64, 20},
    {IDC_FORMAT, WC_COMBOBOXW, L"", WS_TABSTOP | WS_GROUP | WS_VSCROLL | CBS_DROPDOWNLIST, 80, 12, 176, 120},
    {IDC_NORMALS, L"BUTTON", L"&Vertex normals", WS_TABSTOP | WS_GROUP | BS_AUTOCHECKBOX, 80, 42, 176, 22},
    {IDC_TEXTURE_LABEL, L"STATIC", L"&Texture:", SS_LEFT, 12, 75, 64, 20},
    {IDC_TEXTURE, WC_COMBOBOXW, L"", WS_TABSTOP | WS_GROUP | WS_VSCROLL | CBS_DROPDOWNLIST, 80, 72, 176, 120},
    {IDC_TEXTURE_FILE, L"STATIC", L"", SS_LEFT | SS_NOPREFIX | SS_ENDELLIPSIS, 80, 100, 176, 20},
    {IDC_BINARY_NOTE, L"STATIC", L"The binary formats are true scale only: choosing one sets the geometry to True scale.",
     SS_LEFT, 12, 128, 244, 54},
    {IDC_MODEL_GROUP, L"BUTTON", L"Model", BS_GROUPBOX, 268, 6, 188, 208},
    {IDC_SOLID, L"BUTTON", L"&Solid for 3D printing", WS_TABSTOP | WS_GROUP | BS_AUTOCHECKBOX, 280, 26, 168, 22},
    {IDC_BASE_LABEL, L"STATIC", L"&Base (mm):", SS_LEFT, 298, 54, 82, 20},
    {IDC_BASE, L"EDIT", L"", WS_TABSTOP | WS_GROUP | ES_RIGHT | ES_AUTOHSCROLL, 384, 54, 60, 20},
    {IDC_FIT_LABEL, L"STATIC", L"S&ize (mm):", SS_LEFT, 280, 88, 100, 20},
    {IDC_FIT, L"EDIT", L"", WS_TABSTOP | WS_GROUP | ES_RIGHT | ES_AUTOHSCROLL, 384, 88, 60, 20},
    {IDC_EXAGGERATE_LABEL, L"STATIC", L"&Exaggeration:", SS_LEFT, 280, 116, 100, 20},
    {IDC_EXAGGERATE, L"EDIT", L"", WS_TABSTOP | WS_GROUP | ES_RIGHT | ES_AUTOHSCROLL, 384, 116, 60, 20},
    {IDC_FIT_NOTE, L"STATIC", L"A size sets the geometry to True scale; the units then do not apply.",
     SS_LEFT, 280, 148, 164, 54},
    {IDOK, L"BUTTON", L"OK", WS_TABSTOP | WS_GROUP | BS_DEFPUSHBUTTON, 100, 190, 75, 24},
    {IDCANCEL, L"BUTTON", L"Cancel", WS_TABSTOP | BS_PUSHBUTTON, 181, 190, 75, 24},
};
// clang-format on
constexpr int kDialogWidth = 468;
constexpr int kDialogHeight = 226;

// The list's items, in the order of MeshFormatKind.
const wchar_t* const kFormatItems[] = {L"OBJ text", L"glTF binary (.glb)", L"PLY binary", L"STL binary"};
static_assert(sizeof kFormatItems / sizeof kFormatItems[0] == sizeof kMeshFormatNames / sizeof kMeshFormatNames[0],
              "an item for each format");
// The texture list's items, in the order of TextureChoice.
const wchar_t* const kTextureItems[] = {L"None", L"Shaded relief", L"Image\x2026"};

// A captioned modal frame without controls, font or size: WM_INITDIALOG
// fills and sizes it.
std::vector<WORD> EmptyDialogTemplate() {
    std::vector<WORD> words(sizeof(DLGTEMPLATE) / sizeof(WORD), 0);
    reinterpret_cast<DLGTEMPLATE*>(words.data())->style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    words.push_back(0);  // no menu
    words.push_back(0);  // the dialog class
    for (const wchar_t* c = kOutputDialogTitle; *c != L'\0'; ++c) words.push_back(*c);
    words.push_back(0);
    return words;
}

void FillList(HWND dialog, int id, const wchar_t* const* items, std::size_t count, std::size_t chosen) {
    const HWND list = GetDlgItem(dialog, id);
    for (std::size_t i = 0; i < count; ++i) SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(items[i]));
    SendMessageW(list, CB_SETCURSEL, chosen, 0);
}

void CreateDialogControls(HWND dialog) {
    for (const DialogControl& control : kDialogControls) {
        const HWND created = CreateWindowExW(
            0, control.className, control.text, WS_CHILD | WS_VISIBLE | control.style, ScaledLength(control.x),
            ScaledLength(control.y), ScaledLength(control.width), ScaledLength(control.height), dialog,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(control.id)), GetModuleHandleW(nullptr), nullptr);
        SendMessageW(created, WM_SETFONT, reinterpret_cast<WPARAM>(g_app.captionFont), FALSE);
    }
    FillList(dialog, IDC_FORMAT, kFormatItems, std::size(kFormatItems), static_cast<std::size_t>(g_app.outputDraft.format));
    FillList(dialog, IDC_TEXTURE, kTextureItems, std::size(kTextureItems),
             static_cast<std::size_t>(g_app.outputDraft.texture));
}

// Sized for its client area at the window's DPI, below the Output button
// with their right edges lined up, and inside the work area of the button's
// monitor.
void PlaceDialog(HWND dialog, HWND window) {
    RECT frame = {0, 0, ScaledLength(kDialogWidth), ScaledLength(kDialogHeight)};
    AdjustWindowRectForDpi(frame, static_cast<DWORD>(GetWindowLongW(dialog, GWL_STYLE)),
                           static_cast<DWORD>(GetWindowLongW(dialog, GWL_EXSTYLE)), g_app.dpi);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    RECT button = {};
    GetWindowRect(FindControl(window, IDC_OUTPUT), &button);
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoW(MonitorFromRect(&button, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT& work = monitor.rcWork;
    const int x = std::max<LONG>(work.left, std::min<LONG>(button.right - width, work.right - width));
    const int y = std::max<LONG>(work.top, std::min<LONG>(button.bottom + ScaledLength(4), work.bottom - height));
    SetWindowPos(dialog, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

// The normals box shows what the chosen format's file will hold: greyed
// where the format decides it (a GLB always holds vertex normals, an STL its
// facets'), the draft's wish where it is asked.
void ShowNormalsChoice(HWND dialog) {
    const MeshFormatKind format = g_app.outputDraft.format;
    const bool asked = FormatWritesNormals(format, true) != FormatWritesNormals(format, false);
    const HWND box = GetDlgItem(dialog, IDC_NORMALS);
    SendMessageW(box, BM_SETCHECK, FormatWritesNormals(format, g_app.outputDraft.normals) ? BST_CHECKED : BST_UNCHECKED, 0);
    EnableWindow(box, asked ? TRUE : FALSE);
}

// The texture list shows the draft's texture, and the image's file name
// stands below it while an image is chosen; an STL holds none, so there the
// list is greyed at None.
void ShowTextureChoice(HWND dialog) {
    OutputChoice& draft = g_app.outputDraft;
    const bool holds = FormatHoldsTexture(draft.format);
    if (!holds) draft.texture = TextureChoice::None;
    const HWND list = GetDlgItem(dialog, IDC_TEXTURE);
    SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(draft.texture), 0);
    EnableWindow(list, holds ? TRUE : FALSE);
    const std::wstring name =
        draft.texture == TextureChoice::Image ? draft.texturePath.substr(FileNameStart(draft.texturePath)) : L"";
    SetDlgItemTextW(dialog, IDC_TEXTURE_FILE, name.c_str());
}

// The base is asked for only while the solid is: greyed with the box
// cleared, its number kept for the next time.
void ShowSolidChoice(HWND dialog) {
    const bool solid = g_app.outputDraft.solid;
    CheckDlgButton(dialog, IDC_SOLID, solid ? BST_CHECKED : BST_UNCHECKED);
    EnableWindow(GetDlgItem(dialog, IDC_BASE_LABEL), solid ? TRUE : FALSE);
    EnableWindow(GetDlgItem(dialog, IDC_BASE), solid ? TRUE : FALSE);
}

// The fields hold what ReadFieldText reads whole.
constexpr WPARAM kModelFieldChars = 15;

// A size of 0 (not fitted) shows as an empty field.
void FillModelFields(HWND dialog) {
    const OutputChoice& draft = g_app.outputDraft;
    const std::wstring size = draft.fitMillimetres > 0.0 ? ChoiceNumberText(draft.fitMillimetres) : L"";
    SetDlgItemTextW(dialog, IDC_BASE, ChoiceNumberText(draft.solidBase).c_str());
    SetDlgItemTextW(dialog, IDC_FIT, size.c_str());
    SetDlgItemTextW(dialog, IDC_EXAGGERATE, ChoiceNumberText(draft.exaggerate).c_str());
    for (int id : {IDC_BASE, IDC_FIT, IDC_EXAGGERATE}) SendDlgItemMessageW(dialog, id, EM_SETLIMITTEXT, kModelFieldChars, 0);
}

void OnInitDialog(HWND dialog) {
    g_app.outputDraft = g_app.output;
    CreateDialogControls(dialog);
    ShowNormalsChoice(dialog);
    ShowTextureChoice(dialog);
    ShowSolidChoice(dialog);
    FillModelFields(dialog);
    PlaceDialog(dialog, GetWindow(dialog, GW_OWNER));
    SetFocus(GetDlgItem(dialog, IDC_FORMAT));
}

void FormatChosen(HWND dialog) {
    const LRESULT item = SendMessageW(GetDlgItem(dialog, IDC_FORMAT), CB_GETCURSEL, 0, 0);
    if (item >= 0) g_app.outputDraft.format = static_cast<MeshFormatKind>(item);
    ShowNormalsChoice(dialog);
    ShowTextureChoice(dialog);
}

// "Image..." asks for the image at once; a cancelled file dialog leaves the
// texture as it was. The image's world file is read by the job, which
// refuses an image without one.
void ChooseImage(HWND dialog) {
    const ChosenFile file =
        AskForFile(dialog, L"Images (*.png;*.jpg;*.jpeg)\0*.png;*.jpg;*.jpeg\0", L"Select the image to drape the mesh with...");
    if (file.chosen) {
        g_app.outputDraft.texture = TextureChoice::Image;
        g_app.outputDraft.texturePath = file.path;
    }
}

// Acts when the choice is settled: on a pick from the dropped list as it
// closes, or at once on a key that moves the closed list, and only when it
// differs from the draft's.
void TextureChosen(HWND dialog) {
    const HWND list = GetDlgItem(dialog, IDC_TEXTURE);
    const LRESULT item = SendMessageW(list, CB_GETCURSEL, 0, 0);
    if (item < 0 || SendMessageW(list, CB_GETDROPPEDSTATE, 0, 0)) return;
    const auto texture = static_cast<TextureChoice>(item);
    if (texture == g_app.outputDraft.texture) return;
    if (texture == TextureChoice::Image) {
        ChooseImage(dialog);
    } else {
        g_app.outputDraft.texture = texture;
    }
    ShowTextureChoice(dialog);
}

// Posted to the dialog when "Image..." is picked again while an image is
// chosen, so another image is asked for once the list has closed.
constexpr UINT kAskForAnotherImage = WM_APP + 1;

// A pick from the dropped list that leaves the item as it was reports no
// change; picking "Image..." so still asks for an image.
void TexturePickedFromList(HWND dialog) {
    const HWND list = GetDlgItem(dialog, IDC_TEXTURE);
    const bool imageAgain = g_app.outputDraft.texture == TextureChoice::Image &&
                            SendMessageW(list, CB_GETCURSEL, 0, 0) == static_cast<LRESULT>(TextureChoice::Image);
    if (imageAgain && SendMessageW(list, CB_GETDROPPEDSTATE, 0, 0)) PostMessageW(dialog, kAskForAnotherImage, 0, 0);
}

void AskForAnotherImage(HWND dialog) {
    ChooseImage(dialog);
    ShowTextureChoice(dialog);
}

void NormalsTicked(HWND dialog) {
    g_app.outputDraft.normals = SendMessageW(GetDlgItem(dialog, IDC_NORMALS), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void SolidTicked(HWND dialog) {
    g_app.outputDraft.solid = IsDlgButtonChecked(dialog, IDC_SOLID) == BST_CHECKED;
    ShowSolidChoice(dialog);
}

// The largest size, base or factor taken, as the converter takes them.
constexpr double kLargestModelNumber = 1e6;

// A model field, the draft's number it sets, and the warning when it holds
// no number that can be used. Only the size may be empty or 0.
struct ModelField {
    int id;
    double OutputChoice::*value;
    bool zeroMeansNone;
    const wchar_t* warning;
};
const ModelField kModelFields[] = {
    {IDC_BASE, &OutputChoice::solidBase, false,
     L"Please enter the solid's base, its thickness below the lowest height, as a number of millimetres "
     L"above 0 and up to 1000000..."},
    {IDC_FIT, &OutputChoice::fitMillimetres, true,
     L"Please enter the model's longer side as a number of millimetres up to 1000000, or leave the size "
     L"empty to keep the model's true size..."},
    {IDC_EXAGGERATE, &OutputChoice::exaggerate, false,
     L"Please enter the heights' exaggeration as a number above 0 and up to 1000000 (1 keeps them as they "
     L"are)..."},
};

// The field's number (a decimal comma taken as the point) when it is one
// number above 0 and at most the largest; an empty field or 0 reads as 0
// where that means none.
std::optional<double> ModelNumber(HWND dialog, const ModelField& field) {
    const std::wstring text = ReadFieldText(GetDlgItem(dialog, field.id));
    const bool empty = text.find_first_not_of(L" \t") == std::wstring::npos;
    if (field.zeroMeansNone && empty) return 0.0;
    const FieldNumber number = ReadFieldNumber(text);
    if (!number.alone || !std::isfinite(number.value) || number.value > kLargestModelNumber) return std::nullopt;
    if (number.value > 0.0) return number.value;
    if (field.zeroMeansNone && number.value == 0.0) return 0.0;
    return std::nullopt;
}

// The fields' numbers into the draft, in reading order; the first that holds
// none is warned about and gets the focus, its text selected, and the dialog
// stays open with every field as it was. The base is not read while its
// field is greyed.
bool TakeModelFields(HWND dialog) {
    for (const ModelField& field : kModelFields) {
        const HWND edit = GetDlgItem(dialog, field.id);
        if (!IsWindowEnabled(edit)) continue;
        const std::optional<double> value = ModelNumber(dialog, field);
        if (!value) {
            ShowWarning(dialog, field.warning);
            SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(edit), TRUE);
            return false;
        }
        g_app.outputDraft.*field.value = *value;
    }
    return true;
}

void ConfirmDialog(HWND dialog) {
    if (!TakeModelFields(dialog)) return;
    g_app.output = g_app.outputDraft;
    EndDialog(dialog, IDOK);
}

// Enter presses OK and Esc Cancel, as in every dialog.
void OnDialogCommand(HWND dialog, WPARAM wParam) {
    switch (LOWORD(wParam)) {
    case IDOK: ConfirmDialog(dialog); break;
    case IDCANCEL: EndDialog(dialog, IDCANCEL); break;
    case IDC_FORMAT:
        if (HIWORD(wParam) == CBN_SELCHANGE) FormatChosen(dialog);
        break;
    case IDC_NORMALS:
        if (HIWORD(wParam) == BN_CLICKED) NormalsTicked(dialog);
        break;
    case IDC_SOLID:
        if (HIWORD(wParam) == BN_CLICKED) SolidTicked(dialog);
        break;
    case IDC_TEXTURE:
        if (HIWORD(wParam) == CBN_SELCHANGE || HIWORD(wParam) == CBN_CLOSEUP) TextureChosen(dialog);
        if (HIWORD(wParam) == CBN_SELENDOK) TexturePickedFromList(dialog);
        break;
    default: break;
    }
}

INT_PTR CALLBACK OutputDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    // FALSE: the focus was given to the format's list.
    case WM_INITDIALOG: OnInitDialog(dialog); return FALSE;
    case WM_COMMAND: OnDialogCommand(dialog, wParam); return TRUE;
    case kAskForAnotherImage: AskForAnotherImage(dialog); return TRUE;
    default: break;
    }
    return FALSE;
}

}  // namespace

std::wstring ChoiceNumberText(double value) {
    wchar_t text[32] = {};
    std::swprintf(text, std::size(text), L"%.15g", value);
    return text;
}

bool ChooseOutputInDialog(HWND window) {
    const std::vector<WORD> dialogTemplate = EmptyDialogTemplate();
    return DialogBoxIndirectParamW(GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(dialogTemplate.data()),
                                   window, OutputDialogProc, 0) == IDOK;
}
