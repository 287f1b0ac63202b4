// TIFF and fax pictures whose strips, or the pieces of one fax strip, are
// shared out among the threads (tests/data/tiffstrips), loaded on every
// thread count and two at once: always libtiff's picture, byte for byte the
// same whatever the count. The ThreadSanitizer build runs these too.
#include <gtest/gtest.h>

#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "platform/core/Parallel.h"
#include "rasterformats/TIFF.h"
#include "tests/rasterformats/RasterFiles.h"

namespace {

const std::string kDir = rastertest::GeneratedDir("tiffstrips");

// From the file (the threads read their strips through handles of their
// own) or from memory (they share the stream's block).
rastertest::Rgba Load(const std::string& file, bool fromMemory) {
    TTIFFGraphic graphic;
    if (fromMemory) {
        TMemoryStream stream;
        stream.LoadFromFile(kDir + "/" + file);
        graphic.LoadFromStream(stream);
    } else {
        graphic.LoadFromFile(kDir + "/" + file);
    }
    return rastertest::Expand(graphic);
}

rastertest::Rgba Reference(const std::string& file) {
    return rastertest::ReadPam(kDir + "/" + file.substr(0, file.rfind('.')) + ".pam");
}

}  // namespace

// Each file loaded on every thread count, beside the next file loaded on a
// thread of the test's own at the same time (as the open dialog's preview
// may load while the window thread loads another: whichever finds the
// workers busy decodes on its own). Both give libtiff's picture exactly.
TEST(ThreadedLoads, EveryThreadCountGivesTheReferencePictureBesideAnotherLoad) {
    const std::vector<rastertest::Expectation> files = rastertest::ReadManifest(kDir);
    ASSERT_EQ(files.size(), 6u);
    const int saved = par::ThreadCount();
    for (size_t i = 0; i < files.size(); ++i) {
        const std::string& mine = files[i].file;
        const std::string& other = files[(i + 1) % files.size()].file;
        SCOPED_TRACE(mine + " beside " + other);
        const rastertest::Rgba reference = Reference(mine), otherReference = Reference(other);
        for (int threads = 1; threads <= par::AvailableCpus(); ++threads) {
            par::SetThreadCount(threads);
            rastertest::Rgba ours, theirs;
            std::string failure;  // nothing may be raised on the other thread
            std::latch start(2);
            std::thread preview([&] {
                start.arrive_and_wait();
                try {
                    theirs = Load(other, threads % 2 != 0);
                } catch (const Exception& x) {
                    failure = x.Message();
                }
            });
            start.arrive_and_wait();
            ours = Load(mine, threads % 2 == 0);
            preview.join();
            EXPECT_EQ(failure, "") << threads;
            EXPECT_EQ(rastertest::Compare(ours, reference, files[i].mode), "") << threads;
            EXPECT_EQ(rastertest::Compare(theirs, otherReference, "exact"), "") << threads;
        }
    }
    par::SetThreadCount(saved);
}
