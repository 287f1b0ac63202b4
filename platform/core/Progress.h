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
};

// A bar nobody sees (tests, the benchmark).
class TNullProgressBar final : public IProgressBar {
public:
    int32_t Position() const override { return position_; }
    void SetPosition(int32_t position) override { position_ = position < 800 ? position : 800; }

private:
    int32_t position_ = 0;
};
