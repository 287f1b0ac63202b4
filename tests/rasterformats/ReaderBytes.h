// Small files built byte by byte for reader tests: loading them, probing
// them and recording the progress of a load.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "rasterformats/RasterGraphic.h"
#include "tests/rasterformats/RasterFiles.h"

namespace readerbytes {

using Bytes = std::vector<uint8_t>;

inline Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline TMemoryStream StreamOf(const Bytes& bytes) {
    TMemoryStream stream;
    stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    stream.SetPosition(0);
    return stream;
}

// "" when the bytes load into graphic, else the message they are refused
// with (and the graphic must be empty).
inline std::string LoadError(const Bytes& bytes, TRasterGraphic& graphic) {
    TMemoryStream stream = StreamOf(bytes);
    try {
        graphic.LoadFromStream(stream);
    } catch (const Exception& e) {
        EXPECT_TRUE(graphic.Empty());
        return e.Message();
    }
    return "";
}

template <class Reader>
std::string LoadError(const Bytes& bytes) {
    Reader reader;
    return LoadError(bytes, reader);
}

// The class-level probe, which must leave the stream where it was.
template <class Reader>
bool Accepts(const Bytes& bytes) {
    TMemoryStream stream = StreamOf(bytes);
    const bool accepted = Reader::AcceptsStream(stream);
    EXPECT_EQ(stream.Position(), 0);
    return accepted;
}

// The progress events of a load that succeeds: "stage percent r|- top text".
// The graphic is left without a handler, ready for another load.
inline std::vector<std::string> ProgressOf(TRasterGraphic& graphic, const Bytes& bytes) {
    std::vector<std::string> events;
    graphic.OnProgress = [&](TObject*, TProgressStage stage, uint8_t percent, bool redraw, const TRect& r,
                             const std::string& msg) {
        events.push_back(std::to_string(int(stage)) + " " + std::to_string(percent) + (redraw ? " r " : " - ") +
                         std::to_string(r.Top) + " " + msg);
    };
    EXPECT_EQ(LoadError(bytes, graphic), "");
    graphic.OnProgress = nullptr;
    return events;
}

// The family's generated files against their references, each one that
// loads also accepted by the class's probe, and the fuzz regressions.
template <class Reader>
void CheckGeneratedFamily(const std::string& family, size_t atLeast) {
    EXPECT_GE(rastertest::CheckFamily(family), atLeast);
    const std::string dir = rastertest::GeneratedDir(family);
    for (const rastertest::Expectation& e : rastertest::ReadManifest(dir))
        if (e.mode != "refuse") {
            EXPECT_TRUE(Reader::AcceptsFile(dir + "/" + e.file)) << e.file;
        }
    Reader reader;
    rastertest::CheckFuzzRegressions(family, reader);
}

}  // namespace readerbytes
