#include "app/app_state.h"

#include "ui/controls_win.h"

AppState g_app;

// The fonts exist before the entry point runs. Created here, right after the
// record they are stored in, because initialisation order is only fixed
// within one translation unit.
static const bool g_fontsCreated = (CreateFonts(), true);
