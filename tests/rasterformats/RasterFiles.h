// Data-driven checks of the raster readers over the files a family's
// make-files.sh made at test time. The generator writes expect.txt, one line
// per file: "<file> exact|rgb|top5" with the reference picture <file less
// extension>.pam beside it (RGBA, rows top first, from an independent
// decoder), "<file> refuse <message>", or "<file> empty" for a file that
// loads as an empty picture.
#pragma once

#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/core/Graphics.h"
#include "tests/TestRegistry.h"

namespace rastertest {

struct Expectation {
    std::string file, mode, message;
};

inline std::string GeneratedDir(const std::string& family) { return std::string(QUILLARC_GENERATED_DATA) + "/" + family; }

inline std::vector<Expectation> ReadManifest(const std::string& dir, const char* name = "expect.txt") {
    std::vector<Expectation> list;
    std::ifstream in(dir + "/" + name);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        Expectation e;
        words >> e.file >> e.mode;
        std::getline(words >> std::ws, e.message);
        if (!e.file.empty()) list.push_back(e);
    }
    return list;
}

struct Rgba {
    int32_t width = 0, height = 0;
    std::vector<uint8_t> pixels;  // R, G, B, A
};

// A PAM file of depth 3 or 4 and maxval 255.
inline Rgba ReadPam(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string word;
    int depth = 0;
    Rgba r;
    while (in >> word && word != "ENDHDR") {
        if (word == "WIDTH") in >> r.width;
        if (word == "HEIGHT") in >> r.height;
        if (word == "DEPTH") in >> depth;
    }
    in.get();
    const size_t pixels = size_t(r.width) * r.height;
    r.pixels.resize(pixels * 4, 255);
    for (size_t i = 0; i < pixels; ++i) in.read(reinterpret_cast<char*>(&r.pixels[4 * i]), depth);
    return r;
}

// As the decode tool writes it: palettes expanded, opaque, except that a
// 32-bit bitmap's fourth byte is its alpha.
inline Rgba Expand(const TBitmap& bitmap) {
    TBitmap copy;
    copy.Assign(&bitmap);
    const bool alpha = copy.PixelFormat() == TPixelFormat::pf32bit;
    if (!alpha) copy.SetPixelFormat(TPixelFormat::pf24bit);
    Rgba r{copy.Width(), copy.Height(), std::vector<uint8_t>(size_t(copy.Width()) * copy.Height() * 4)};
    for (int32_t y = 0; y < copy.Height(); ++y) {
        const uint8_t* s = copy.ScanLine(y);
        uint8_t* d = r.pixels.data() + size_t(y) * copy.Width() * 4;
        for (int32_t x = 0; x < copy.Width(); ++x, d += 4, s += alpha ? 4 : 3) {
            d[0] = s[2];
            d[1] = s[1];
            d[2] = s[0];
            d[3] = alpha ? s[3] : 255;
        }
    }
    return r;
}

// "" when the pictures agree under mode, else where they first differ.
inline std::string Compare(const Rgba& ours, const Rgba& ref, const std::string& mode) {
    if (ours.width != ref.width || ours.height != ref.height)
        return "size " + std::to_string(ours.width) + "x" + std::to_string(ours.height) + ", reference " +
               std::to_string(ref.width) + "x" + std::to_string(ref.height);
    for (size_t i = 0; i < ours.pixels.size(); ++i) {
        const bool alpha = i % 4 == 3;
        uint8_t a = ours.pixels[i], b = ref.pixels[i];
        if (mode == "rgb" && alpha) continue;
        if (mode == "top5" && !alpha) a >>= 3, b >>= 3;
        if (a != b) {
            const size_t pixel = i / 4;
            return "pixel (" + std::to_string(pixel % size_t(ours.width)) + ", " +
                   std::to_string(pixel / size_t(ours.width)) + ") channel " + std::to_string(i % 4) + ": " +
                   std::to_string(ours.pixels[i]) + ", reference " + std::to_string(ref.pixels[i]);
        }
    }
    return "";
}

// Loads every file of the family's manifest through the picture registry,
// as the open dialog's preview does, and checks it against its reference
// or its refusal. Returns the number of files checked.
inline size_t CheckFamily(const std::string& family) {
    testpics::CodecsRegistered codecs;
    const std::string dir = GeneratedDir(family);
    const std::vector<Expectation> list = ReadManifest(dir);
    for (const Expectation& e : list) {
        SCOPED_TRACE(e.file);
        TPicture picture;
        if (e.mode == "refuse") {
            try {
                picture.LoadFromFile(dir + "/" + e.file);
                ADD_FAILURE() << "loaded, expected the refusal \"" << e.message << "\"";
            } catch (const Exception& x) {
                EXPECT_EQ(x.Message(), e.message);
            }
            EXPECT_EQ(picture.Graphic(), nullptr);
            continue;
        }
        try {
            picture.LoadFromFile(dir + "/" + e.file);
        } catch (const Exception& x) {
            ADD_FAILURE() << x.ClassName() << ": " << x.Message();
            continue;
        }
        if (e.mode == "empty") {
            EXPECT_TRUE(picture.Graphic() != nullptr && picture.Graphic()->Empty());
            continue;
        }
        TBitmap bitmap;
        bitmap.Assign(picture.Graphic());
        const std::string reference = dir + "/" + e.file.substr(0, e.file.rfind('.')) + ".pam";
        EXPECT_EQ(Compare(Expand(bitmap), ReadPam(reference), e.mode), "");
    }
    return list.size();
}

// Every file of tests/data/<family>/fuzz loads or raises one of the
// program's exceptions.
inline void CheckFuzzRegressions(const std::string& family, TGraphic& reader) {
    const std::string dir = std::string(QUILLARC_TEST_DATA) + "/" + family + "/fuzz";
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return;
    std::vector<std::string> names;
    while (dirent* entry = readdir(d))
        if (entry->d_name[0] != '.' && std::string(entry->d_name) != "README.txt") names.push_back(entry->d_name);
    closedir(d);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        try {
            reader.LoadFromFile(dir + "/" + name);
        } catch (const Exception&) {
        }
    }
}

}  // namespace rastertest
