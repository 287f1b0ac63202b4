// State the conversion dialogs share with the main window's filters.
#pragma once

#include <cstdint>
#include <string>

#include "platform/core/Progress.h"

class TBitmap32;

// 1 while the Standard dialog converts, 2 while the Professional one does;
// 0 at start and never reset.
extern int32_t MakeMode;
extern std::string InputDir;
extern std::string OutputDir;
// The main window's copy of the right pane; owned by the main window.
extern TBitmap32* CurrentSketch;

// The dialogs register their bars here; both default to a bar nobody sees.
void SetStandardProgressBar(IProgressBar* bar);
void SetProfessionalProgressBar(IProgressBar* bar);
IProgressBar& StandardProgressBar();
IProgressBar& ProfessionalProgressBar();
// The bar the shared filters advance: the Professional one when MakeMode
// is 2, the Standard one otherwise.
IProgressBar& SharedProgressBar();
