// Windows on two screens: the primary one of 1024 x 768 and, to its right
// and 100 lower, one of 1280 x 800 (two-screens.json sets the offscreen
// platform up so). A window stays on the screen under its centre; on none,
// it goes to the primary one.
#include <gtest/gtest.h>

#include <QGuiApplication>

#include "platform/forms/Forms.h"

namespace {

class TScreenForm : public TForm {};

TEST(TwoScreens, AWindowIsKeptOnTheScreenUnderItsCentre) {
    if (QGuiApplication::screens().size() < 2) GTEST_SKIP() << "needs the offscreen platform's two screens";
    TScreenForm fixed, sizeable;
    fixed.LoadFromText("object Fixed: TScreenForm\n  BorderStyle = bsDialog\nend\n", "Fixed.form");
    sizeable.LoadFromText("object Sizeable: TScreenForm\nend\n", "Sizeable.form");
    const struct {
        TForm& form;
        TRect asked, kept;
    } cases[] = {
        {fixed, Bounds(1900, 400, 300, 200), Bounds(1900, 400, 300, 200)},    // on the second screen
        {fixed, Bounds(2100, 50, 300, 200), Bounds(2004, 100, 300, 200)},     // past its right and top
        {fixed, Bounds(500, 700, 300, 200), Bounds(500, 568, 300, 200)},      // on none: in the gap below the first
        {sizeable, Bounds(1100, 150, 1500, 900), Rect(1024, 100, 2304, 900)},  // shrunk to its own
    };
    for (const auto& c : cases) {
        c.form.Hide();
        c.form.SetBounds(c.asked.Left, c.asked.Top, c.asked.Width(), c.asked.Height());
        c.form.Show();
        EXPECT_EQ(c.form.BoundsRect(), c.kept) << c.asked.Left << ", " << c.asked.Top;
    }
}

}  // namespace
