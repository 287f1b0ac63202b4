// No byte of a loaded picture is left as the memory held it: every reader's
// generated files are loaded twice, the pixel blocks handed out unzeroed
// filled with a different pattern each time, and every byte of every row
// (padding included) must come out the same.
#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/core/PixelBuffer.h"
#include "tests/rasterformats/RasterFiles.h"

namespace {

// The rows of a load, as the registry's class leaves them; a graphic that
// is no bitmap goes through a bitmap's Assign, as the preview takes it.
std::vector<uint8_t> LoadedRows(const std::string& path, int pattern, bool& loaded) {
    pixmem::SetUnzeroedFill(pattern);
    std::vector<uint8_t> rows;
    TPicture picture;
    try {
        picture.LoadFromFile(path);
    } catch (const Exception&) {
        loaded = false;
        return rows;
    }
    loaded = true;
    TBitmap copy;
    const auto* bitmap = dynamic_cast<const TBitmap*>(picture.Graphic());
    if (bitmap == nullptr) {
        copy.Assign(picture.Graphic());
        bitmap = &copy;
    }
    for (int32_t y = 0; y < bitmap->Height(); ++y)
        rows.insert(rows.end(), bitmap->ScanLine(y), bitmap->ScanLine(y) + bitmap->RowBytes());
    return rows;
}

// The files of a family to load: those its manifest does not refuse, or
// every file when it has none (what the registry has no class for fails to
// load and is passed over).
std::vector<std::string> FamilyFiles(const std::string& family) {
    const std::string dir = rastertest::GeneratedDir(family);
    std::vector<std::string> files;
    const std::vector<rastertest::Expectation> manifest = rastertest::ReadManifest(dir);
    for (const rastertest::Expectation& e : manifest)
        if (e.mode != "refuse") files.push_back(e.file);
    if (manifest.empty()) {
        if (DIR* d = opendir(dir.c_str())) {
            while (dirent* entry = readdir(d))
                if (entry->d_name[0] != '.') files.push_back(entry->d_name);
            closedir(d);
        }
        std::sort(files.begin(), files.end());
    }
    return files;
}

}  // namespace

TEST(UndefinedBytes, NoReaderLeavesAByteOfAPictureUnwritten) {
    testpics::CodecsRegistered codecs;
    // Families still leaving bytes: their test expects it, so that the
    // mend shows here as a failure asking to drop the mark.
    struct Family {
        const char* name;
        bool stillLeaks;
    } families[] = {
        {"targa", false}, {"pnm", false},  {"sgi", false},     {"autodesk", false}, {"pcx", false},
        {"cut", false},   {"rla", false},  {"psd", false},     {"psp", false},      {"png", false},
        {"photocd", false}, {"registry", false}, {"tiff", false}, {"gif", false},    {"gifimport", false},
    };
    for (const Family& f : families) {
        size_t checked = 0, leaking = 0;
        for (const std::string& file : FamilyFiles(f.name)) {
            SCOPED_TRACE(std::string(f.name) + "/" + file);
            const std::string path = rastertest::GeneratedDir(f.name) + "/" + file;
            bool first = false, second = false;
            const std::vector<uint8_t> a = LoadedRows(path, 0xAB, first), b = LoadedRows(path, 0x54, second);
            ASSERT_EQ(first, second);
            if (!first) continue;
            ++checked;
            const auto differ = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
            if (differ.first == a.end() && a.size() == b.size()) continue;
            ++leaking;
            if (!f.stillLeaks) {
                ADD_FAILURE() << "byte " << (differ.first - a.begin()) << " of the rows is as the memory held it";
            }
        }
        pixmem::SetUnzeroedFill(-1);
        EXPECT_GT(checked, 0u) << f.name;
        if (f.stillLeaks) {
            EXPECT_GT(leaking, 0u) << f.name << " now leaves no byte unwritten: drop its mark";
        }
    }
}
