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
int32_t shareIndex = 0, shareCount = 0;  // no batch

}  // namespace

void SetStandardProgressBar(IProgressBar* bar) { standardBar = bar; }
void SetProfessionalProgressBar(IProgressBar* bar) { professionalBar = bar; }

IProgressBar& StandardProgressBar() { return standardBar ? *standardBar : HiddenBar(1); }
IProgressBar& ProfessionalProgressBar() { return professionalBar ? *professionalBar : HiddenBar(2); }

IProgressBar& SharedProgressBar() { return MakeMode == 2 ? ProfessionalProgressBar() : StandardProgressBar(); }

void SetBatchShare(int32_t index, int32_t count) {
    shareCount = count > 0 ? count : 0;
    shareIndex = index >= 0 && index < shareCount ? index : 0;
}

TConversionProgress::TConversionProgress(int32_t mode)
    : mode_(mode), registered_(mode == 2 ? professionalBar : standardBar), inBatch_(shareCount > 0) {
    IProgressBar& bar = mode == 2 ? ProfessionalProgressBar() : StandardProgressBar();
    const int64_t max = bar.Max(), count = inBatch_ ? shareCount : 1;
    const auto from = static_cast<int32_t>(max * shareIndex / count);
    const auto to = static_cast<int32_t>(max * (shareIndex + 1) / count);
    if (shareIndex == 0) bar.SetPosition(0);
    run_ = std::make_unique<TRunProgress>(bar, from, to);
    (mode == 2 ? professionalBar : standardBar) = run_.get();
}

TConversionProgress::~TConversionProgress() {
    (mode_ == 2 ? professionalBar : standardBar) = registered_;
    IProgressBar& bar = mode_ == 2 ? ProfessionalProgressBar() : StandardProgressBar();
    if (inBatch_)
        run_->Finish();
    else
        bar.SetPosition(0);
}
