// The progress bar as the filters see it: a position they raise by one per
// processed row and set back to 0 at the end. The dialogs' bars implement it.
#pragma once

#include <cstdint>

class IProgressBar {
public:
    virtual ~IProgressBar() = default;
    virtual int32_t Position() const = 0;
    // Positions beyond the bar's range leave it full.
    virtual void SetPosition(int32_t position) = 0;
    void StepBy(int32_t rows) { SetPosition(Position() + rows); }
    // The top of the bar's range.
    virtual int32_t Max() const { return 800; }
    // A conversion tells the bar, before its first pass, how many passes it
    // will run (each ended by SetPosition(0)) over `rows` rows each. Only a
    // bar that shows a whole run (TRunProgress) listens.
    virtual void Plan(int32_t /*passes*/, int32_t /*rows*/) {}
};

// A bar nobody sees (tests, the benchmark).
class TNullProgressBar final : public IProgressBar {
public:
    int32_t Position() const override { return position_; }
    void SetPosition(int32_t position) override { position_ = position < 800 ? position : 800; }

private:
    int32_t position_ = 0;
};

// The passes of one run shown on one bar that only moves forward. The
// filters step it and set it back to 0 per pass as they would a bar; the
// bar shows the share of the planned passes done, within the positions
// [from, to] of its range, and never goes back. Without a plan each pass
// counts as far as the rows it steps.
class TRunProgress final : public IProgressBar {
public:
    TRunProgress(IProgressBar& bar, int32_t from, int32_t to) : bar_(bar), from_(from), to_(to), shown_(from) {}

    int32_t Position() const override { return position_; }
    void SetPosition(int32_t position) override;
    int32_t Max() const override { return bar_.Max(); }
    void Plan(int32_t passes, int32_t rows) override;
    // The bar at the end of the run's share.
    void Finish();

private:
    IProgressBar& bar_;
    int32_t from_, to_;
    int32_t passes_ = 0, rows_ = 0;  // the plan (0: none)
    int32_t done_ = 0;               // passes ended
    int32_t position_ = 0;           // rows of the pass under way
    int32_t shown_;
};

// The window thread's chance to paint while it works through a long run.
// The form layer installs the pulse for the length of such a run; the core
// calls Pulse between blocks of rows, and a pulse from any thread but the
// window thread is ignored by the form layer. Nothing is called while no
// pulse is installed.
namespace progress {
void SetPulse(void (*pulse)());
void Pulse();

// Pulses on this thread wait while one lives, and the last one gives a
// single pulse for them all (when any came): for code that must not paint
// at that moment, such as a progress report that holds back the workers.
class TPulseLater {
public:
    TPulseLater();
    ~TPulseLater();
    TPulseLater(const TPulseLater&) = delete;
    TPulseLater& operator=(const TPulseLater&) = delete;
};
}  // namespace progress
