// State the conversion dialogs share with the main window's filters.
#pragma once

#include <cstdint>
#include <memory>
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

// For the length of one conversion by the dialog of `mode` (1 Standard,
// 2 Professional), that dialog's bar shows the whole run and only moves
// forward: the filters step a TRunProgress in its place. At the end the
// bar is back at 0, or, while a batch runs, at the end of the item's share
// (the batch sets it back to 0 when it is over).
class TConversionProgress {
public:
    explicit TConversionProgress(int32_t mode);
    ~TConversionProgress();
    TConversionProgress(const TConversionProgress&) = delete;
    TConversionProgress& operator=(const TConversionProgress&) = delete;

private:
    int32_t mode_;
    IProgressBar* registered_;
    bool inBatch_;
    std::unique_ptr<TRunProgress> run_;
};

// While a batch runs, the conversion of item `index` (0-based) of `count`
// fills that item's share of the bar; a count of 0 ends the batch.
void SetBatchShare(int32_t index, int32_t count);
