// The open dialog's preview: a picture file read through the picture
// registry and drawn into the preview's own area over a fixed backdrop.
#include <gtest/gtest.h>

#include "gif/GIFPicture.h"
#include "platform/forms/Desktop.h"
#include "tests/TestRegistry.h"

namespace {
const std::string kGenerated = std::string(QUILLARC_GENERATED_DATA) + "/gif";
}

TEST(OpenPreview, TransparentGifShowsTheBackdropThroughItsTransparentColour) {
    testpics::CodecsRegistered codecs;
    const std::string file = kGenerated + "/im_transparent.gif";
    TGIFPicture gif;
    gif.LoadFromFile(file);
    TGIFSubImage* frame = gif.Images()[0];
    ASSERT_EQ(frame->FrameRect(), Rect(0, 0, 73, 77));
    ASSERT_TRUE(frame->Transparent());
    const uint8_t transparent = frame->GraphicControlExtension()->TransparentIndex();
    const TGIFColorMap& map = frame->EffectiveColorMap();

    TPoint size;
    const auto preview = PreviewBitmap(file, 200, 200, clLime, &size);
    EXPECT_EQ(size.X, 73);
    EXPECT_EQ(size.Y, 77);
    ASSERT_EQ(preview->Width(), 200);
    // Fitted by height: 189 x 200, centred at x = 5; the sides show the
    // backdrop, and so does every pixel whose source pixel is transparent.
    int seen = 0;
    for (int y = 0; y < 200; ++y) {
        for (int x = 0; x < 200; ++x) {
            TColor want = clLime;
            if (x >= 5 && x < 194) {
                // The platform's nearest-neighbour stretch: a pixel's centre mapped back.
                const int sx = ((2 * (x - 5) + 1) * 73) / (2 * 189), sy = ((2 * y + 1) * 77) / (2 * 200);
                const uint8_t index = frame->PixelAt(sx, sy);
                if (index != transparent) want = map.ColorOrFirst(index);
                seen += index == transparent;
            }
            ASSERT_EQ(preview->Pixel(x, y), want) << x << ", " << y;
        }
    }
    EXPECT_GT(seen, 100);
}

TEST(OpenPreview, UnreadableFilesRaiseTheReadersException) {
    testpics::CodecsRegistered codecs;
    EXPECT_THROW(PreviewBitmap(std::string(QUILLARC_TEST_DATA) + "/gif/hostile/bad_signature.gif", 50, 50, clWhite),
                 GIFException);
}
