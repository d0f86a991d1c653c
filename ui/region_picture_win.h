// The region picture of step 2: the selected grid's terrain preview, read on
// a thread of its own, with the region drawn on it as a white rectangle and
// set by dragging over it. Window thread only, but for the preview thread.
#pragma once

#include <windows.h>

// Posted to the main window by a preview thread as its very last step; wParam
// is the generation of the selection the preview was read for.
constexpr UINT kPreviewEndedMessage = WM_APP + 2;

// Once the controls exist: the picture paints itself and takes the mouse.
void SetUpRegionPicture(HWND window);

// A grid was selected, or the picture's size changed: drops the shown
// preview (the picture shows its image again) and reads the grid anew at
// the picture's size. Does nothing while a job runs.
void StartRegionPreview(HWND window);

// Starting a job or closing the window: cancels a running preview and waits
// for its thread, which stops within a few rows. A preview already shown stays.
void StopRegionPreview();

// kPreviewEndedMessage: shows the preview when it belongs to the current
// selection; a cancelled or superseded one is dropped.
void EndRegionPreview(HWND window, WPARAM generation);

// After a job: reads the preview again when the job's start cancelled it.
void ResumeRegionPreview(HWND window);

// Paints the picture: the preview and the region on it while step 2 is
// enabled and a preview of the selected grid is there, otherwise the image
// that step 2's state picks.
void PaintRegionPicture(HWND window);
