// The Output dialog that step 4's Output button opens: what the mesh file is
// made as (its format, its vertex normals, its texture), in one small modal
// dialog built in code. Window thread only.
#pragma once

#include <windows.h>

// Ids of the dialog's controls, besides IDOK and IDCANCEL.
enum OutputDialogId : int {
    IDC_FORMAT_LABEL = 501,
    IDC_FORMAT = 502,   // drop-down list, in the order of MeshFormatKind
    IDC_NORMALS = 503,  // check box
    IDC_BINARY_NOTE = 504,
    IDC_TEXTURE_LABEL = 505,
    IDC_TEXTURE = 506,       // drop-down list, in the order of TextureChoice
    IDC_TEXTURE_FILE = 507,  // the chosen image's file name
};

constexpr wchar_t kOutputDialogTitle[] = L"Output";

// Shows the dialog over the Output button with g_app.output chosen. True
// when OK took the dialog's choice into g_app.output; false when the dialog
// was cancelled and g_app.output is as it was.
bool ChooseOutputInDialog(HWND window);
