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

// A load on a thread of the test's own, where nothing may be raised.
void Attempt(const std::string& file, bool fromMemory, rastertest::Rgba& picture, std::string& failure) {
    try {
        picture = Load(file, fromMemory);
    } catch (const Exception& x) {
        failure = file + ": " + x.Message();
    }
}

rastertest::Rgba Reference(const std::string& file) {
    return rastertest::ReadPam(kDir + "/" + file.substr(0, file.rfind('.')) + ".pam");
}

}  // namespace

TEST(ThreadedLoads, EveryThreadCountGivesTheReferencePicture) {
    const std::vector<rastertest::Expectation> files = rastertest::ReadManifest(kDir);
    ASSERT_EQ(files.size(), 6u);
    const int saved = par::ThreadCount();
    par::SetThreadCount(1);
    for (const rastertest::Expectation& e : files) {
        SCOPED_TRACE(e.file);
        const rastertest::Rgba one = Load(e.file, false);
        EXPECT_EQ(rastertest::Compare(one, Reference(e.file), e.mode), "");
        for (int threads = 2; threads <= par::AvailableCpus(); ++threads) {
            par::SetThreadCount(threads);
            EXPECT_TRUE(Load(e.file, threads % 2 == 0).pixels == one.pixels) << threads << " threads";
        }
        par::SetThreadCount(1);
    }
    par::SetThreadCount(saved);
}

// The open dialog's preview may load a picture while the window thread
// loads another: whichever finds the workers busy decodes on its own.
TEST(ThreadedLoads, TwoLoadsAtOnceOnTwoThreads) {
    const std::vector<rastertest::Expectation> files = rastertest::ReadManifest(kDir);
    ASSERT_FALSE(files.empty());
    for (size_t i = 0; i < files.size(); ++i) {
        const std::string& mine = files[i].file;
        const std::string& other = files[(i + 1) % files.size()].file;
        SCOPED_TRACE(mine + " beside " + other);
        rastertest::Rgba ours, theirs;
        std::string ourFailure, theirFailure;
        std::latch start(2);
        std::thread preview([&] {
            start.arrive_and_wait();
            Attempt(other, i % 2 == 0, theirs, theirFailure);
        });
        start.arrive_and_wait();
        Attempt(mine, i % 2 != 0, ours, ourFailure);
        preview.join();
        EXPECT_EQ(ourFailure + theirFailure, "");
        EXPECT_EQ(rastertest::Compare(ours, Reference(mine), "exact"), "");
        EXPECT_EQ(rastertest::Compare(theirs, Reference(other), "exact"), "");
    }
}
