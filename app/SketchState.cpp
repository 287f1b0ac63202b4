#include "app/SketchState.h"

int32_t MakeMode = 0;
std::string InputDir;
std::string OutputDir;
TBitmap32* CurrentSketch = nullptr;

namespace {

IProgressBar& HiddenBar(int which) {
    static TNullProgressBar standard, professional;
    return which == 2 ? static_cast<IProgressBar&>(professional) : standard;
}

IProgressBar* standardBar = nullptr;
IProgressBar* professionalBar = nullptr;

}  // namespace

void SetStandardProgressBar(IProgressBar* bar) { standardBar = bar; }
void SetProfessionalProgressBar(IProgressBar* bar) { professionalBar = bar; }

IProgressBar& StandardProgressBar() { return standardBar ? *standardBar : HiddenBar(1); }
IProgressBar& ProfessionalProgressBar() { return professionalBar ? *professionalBar : HiddenBar(2); }

IProgressBar& SharedProgressBar() { return MakeMode == 2 ? ProfessionalProgressBar() : StandardProgressBar(); }
