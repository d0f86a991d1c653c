// The one process-wide record of all program data.
#pragma once

#include <atomic>
#include <string>

#include "format/mesh_format.h"
#include "grid/grid_reader.h"
#include "grid/grid_types.h"
#include "picture/terrain_preview.h"

#ifdef _WIN32
#include <windows.h>

struct PreviewRun;  // ui/region_picture_win.cpp
#endif

// The longest path the open-file dialog may return: the longest Windows has,
// so a long folder or file name is never refused for its length.
constexpr std::size_t kInputPathChars = 32767;

// What the mesh file is made as, beyond the method and the geometry: its
// format, whether it holds vertex normals as asked (a GLB holds them
// whatever is asked, an STL only its facets') and the texture it is draped
// with (never an STL's). The Output dialog sets it; a solid to print belongs
// here too.
struct OutputChoice {
    MeshFormatKind format = MeshFormatKind::Obj;
    bool normals = false;
    TextureChoice texture = TextureChoice::None;
    std::wstring texturePath;  // the image last chosen, full path; kept while another texture is chosen
    // A solid for 3D printing: its base below the lowest height, the longer
    // side's size in mm (0: not fitted) and the heights' exaggeration.
    bool solid = false;
    double solidBase = 2.0;
    double fitMillimetres = 0.0;
    double exaggerate = 1.0;
};

struct AppState {
    // Written by the file selection (window thread). A job never reads these
    // fields: Convert copies them into the job's request, and reopens the
    // grid file for it, before the job thread starts. The grid file is not
    // held open between jobs.
    std::wstring inputPath;  // full path of the selected grid file
    std::wstring inputStem;  // file name without folder and extension
    std::wstring inputExt;   // extension with its dot
    GridHeader header;       // as shown in the file info
    int64_t records = 0;     // ncols x nrows, window thread
    RegionWindow region;     // window thread (UpdateEstimates)
    float unitMeters = 1.0f; // window thread, before the job starts
    MeshMethod method = MethodNone;  // window thread
    OutputChoice output;             // window thread: as the Output dialog last set it
    OutputChoice outputDraft;        // window thread: the Output dialog's choice while it is open

    std::atomic<bool> converting{false};       // window thread: set at Convert, cleared when the job has ended
    std::atomic<bool> cancelRequested{false};  // set and cleared by the window thread, polled by the job
    std::atomic<bool> closeRequested{false};   // set by the window thread (closed while a job runs), read by the job
    bool regionEnabled = false;                // window thread only: set with the region's controls, read when painting
    bool quitRequested = false;                // window thread only

    // The region picture's terrain preview. The window thread starts one
    // preview thread at a time for the selected grid and waits for it before
    // it starts another; the thread renders into its own record and only
    // posts its end (ui/region_picture_win).
    std::atomic<bool> previewCancel{false};  // set by the window thread, polled by the preview's workers
    unsigned previewGeneration = 0;          // window thread: counts the selections read
    TerrainPreview preview;                  // window thread: the selected grid's, shown; width 0 while none

#ifdef _WIN32
    // Window thread only: the running job's thread, kept until the window has
    // handled the job's end, so at most one job exists and closing the window
    // waits for it.
    HANDLE jobThread = nullptr;
    // Window thread only: the running preview thread and the record it
    // renders into, freed once the thread has ended.
    HANDLE previewThread = nullptr;
    PreviewRun* previewRun = nullptr;
    // Window thread only: a drag over the region picture, from where the
    // button went down; it moves the region once it has gone past the
    // system's drag distance.
    bool dragPressed = false;
    bool dragMoved = false;
    POINT dragStart = {};

    // The face the texts are set in, chosen during process start-up, before
    // the entry point: the layout's own (Segoe UI) where the system has it,
    // otherwise the first stand-in present, whose sizes are fitted to the
    // layout (faceStandsIn). Read-only afterwards.
    std::wstring fontFace;
    bool faceStandsIn = false;
    // The DPI that the fonts, the images and the controls' places are made
    // for, and the fonts and images themselves. The fonts are first made
    // during start-up for the primary monitor's DPI; the window thread makes
    // all of them anew, and frees the old ones, when the window's DPI differs
    // (WM_CREATE, WM_DPICHANGED). Window thread only after start-up.
    int dpi = 96;
    HFONT captionFont = nullptr;
    HFONT valueFont = nullptr;
    HICON selectFileImages[3] = {};   // hot, normal, pressed (103-105)
    HICON regionImages[2] = {};       // colour, grey (106-107)
    HICON methodImages[4] = {};       // 108-111
    HICON convertImages[7] = {};      // 120-126
    // Window thread only: the tooltip that shows the selected file's full
    // path over the file-info panel, and the control that had the keyboard
    // focus when the window was last deactivated.
    HWND fileNameTip = nullptr;
    HWND lastFocus = nullptr;
#endif
};

extern AppState g_app;
