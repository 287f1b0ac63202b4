#include <gtest/gtest.h>

#include "app/Random.h"

namespace {

// Restores the shared seed so that other tests see the sequence they expect.
class RandomTest : public ::testing::Test {
protected:
    void SetUp() override { saved_ = rnd::Seed(); }
    void TearDown() override { rnd::SetSeed(saved_); }
    uint32_t saved_ = 0;
};

TEST_F(RandomTest, DrawsAdvanceFirstThenTakeTheHighWord) {
    rnd::SetSeed(0);
    EXPECT_EQ(rnd::Random(100), 0u);  // seed 1
    EXPECT_EQ(rnd::Seed(), 1u);
    EXPECT_EQ(rnd::Random(100), 3u);  // seed 134775814: 100 x seed / 2^32 = 3.14
    EXPECT_EQ(rnd::Seed(), 134775814u);
    EXPECT_EQ(rnd::Seed() * 134775813u + 1u, rnd::Next(rnd::Seed()));
}

TEST_F(RandomTest, DrawStaysBelowN) {
    rnd::SetSeed(12345);
    for (int i = 0; i < 10000; ++i) ASSERT_LT(rnd::Random(13), 13u);
    EXPECT_EQ(rnd::Draw(0xFFFFFFFFu, 13), 12u);
    EXPECT_EQ(rnd::Draw(0xFFFFFFFFu, 0), 0u);
}

TEST_F(RandomTest, JumpAheadMatchesStepping) {
    for (uint32_t start : {0u, 1u, 0xDEADBEEFu}) {
        uint32_t s = start;
        for (uint64_t n = 0; n <= 3000; ++n) {
            ASSERT_EQ(rnd::JumpAhead(start, n), s) << start << " " << n;
            s = rnd::Next(s);
        }
    }
}

TEST_F(RandomTest, JumpAheadComposesAndHasFullPeriod) {
    const uint32_t a = rnd::JumpAhead(7, 123456789);
    EXPECT_EQ(rnd::JumpAhead(a, 987654321), rnd::JumpAhead(7, 123456789ull + 987654321ull));
    EXPECT_EQ(rnd::JumpAhead(7, uint64_t(1) << 32), 7u);
    EXPECT_NE(rnd::JumpAhead(7, uint64_t(1) << 31), 7u);
}

}  // namespace
