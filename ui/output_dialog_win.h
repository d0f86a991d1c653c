// The Output dialog that step 4's Output button opens: what the mesh file is
// made as (its format, its vertex normals, its texture, the model's size and
// exaggeration, a solid to print), in one small modal dialog built in code.
// Window thread only.
#pragma once

#include <windows.h>

#include <string>

// Ids of the dialog's controls, besides IDOK and IDCANCEL.
enum OutputDialogId : int {
    IDC_FORMAT_LABEL = 501,
    IDC_FORMAT = 502,   // drop-down list, in the order of MeshFormatKind
    IDC_NORMALS = 503,  // check box
    IDC_BINARY_NOTE = 504,
    IDC_TEXTURE_LABEL = 505,
    IDC_TEXTURE = 506,       // drop-down list, in the order of TextureChoice
    IDC_TEXTURE_FILE = 507,  // the chosen image's file name
    IDC_MODEL_GROUP = 508,   // the frame of the model's size and the solid
    IDC_SOLID = 509,         // check box: a closed solid for 3D printing
    IDC_BASE_LABEL = 510,
    IDC_BASE = 511,          // edit: the solid's base below the lowest height, more than 0
    IDC_FIT_LABEL = 512,
    IDC_FIT = 513,           // edit: the longer side in millimetres; empty or 0: not fitted
    IDC_EXAGGERATE_LABEL = 514,
    IDC_EXAGGERATE = 515,    // edit: the heights' factor, more than 0
    IDC_FIT_NOTE = 516,
};

constexpr wchar_t kOutputDialogTitle[] = L"Output";

// Shows the dialog over the Output button with g_app.output chosen. True
// when OK took the dialog's choice into g_app.output; false when the dialog
// was cancelled and g_app.output is as it was.
bool ChooseOutputInDialog(HWND window);

// A size, base or factor as the dialog's fields and the Output button show
// it: at most 15 significant digits, no trailing zeros ("2", "0.5", "120").
std::wstring ChoiceNumberText(double value);
