// What the window tests share: the application object, a scripted desktop
// for each test, the program's windows created in start-up order, and
// helpers for files and pixels.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include <unistd.h>

#include "app/About_Us_s.h"
#include "app/Image32.h"
#include "app/MainForm_s.h"
#include "app/Mail.h"
#include "app/SketchState.h"
#include "app/ViewForm_s.h"
#include "platform/forms/Desktop.h"
#include "platform/forms/Forms.h"
#include "print/Print_Setup_s.h"
#include "professional/Setup_s.h"
#include "standard/Standard_s.h"

namespace windows_test {

// The earlier revision's dialog, built in the same test program.
class TStandardEarlier : public TStandard {
public:
    TStandardEarlier() : TStandard(TRevision::Earlier) {}
};

// The application lives until the last test is over, and goes before the
// program's own statics do: Qt's print dialog leaves clean-up work that
// needs them.
class ApplicationEnvironment : public ::testing::Environment {
public:
    void TearDown() override { application.reset(); }
    static inline std::unique_ptr<TApplication> application;
};
inline const auto* const kApplicationEnvironment = ::testing::AddGlobalTestEnvironment(new ApplicationEnvironment);

inline void EnsureApplication() {
    if (Application) return;
    static int argc = 1;
    static char name[] = "quillarc_gui_tests";
    static char* argv[] = {name, nullptr};
    ApplicationEnvironment::application = std::make_unique<TApplication>(argc, argv);
}

class WindowsTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureApplication();
        auto scripted = std::make_unique<TScriptedDesktop>();
        desktop = scripted.get();
        previous_ = SetDesktop(std::move(scripted));
        previousMail_ = SetMailSender([](const TMailMessage& m) { return Desktop().SendMail(m); });
        folder = std::filesystem::temp_directory_path() /
                 ("quillarc_windows_" + std::to_string(::getpid()) + "_" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        CreateForms(standardRevision);
    }

    void TearDown() override {
        Application->DestroyForms();
        SetMailSender(previousMail_);
        SetDesktop(std::move(previous_));
        std::filesystem::remove_all(folder);
    }

    // The program's windows in start-up order.
    void CreateForms(TRevision revision) {
        Application->CreateForm(MainForm, "MainForm");
        Application->CreateForm(Setup_For_Color_Sketch, "Setup_For_Color_Sketch");
        Application->CreateForm(ViewForm, "ViewForm");
        Application->CreateForm(About_Us, "About_Us");
        if (revision == TRevision::Current) {
            Application->CreateForm(Standard, "Standard");
        } else {
            TStandardEarlier* earlier = nullptr;
            Application->CreateForm(earlier, "StandardEarlier");
            Standard = earlier;
        }
        Application->CreateForm(Print_Setup, "Print_Setup");
    }

    std::string Path(const std::string& name) const { return (folder / name).string(); }

    void WriteBytes(const std::string& name, const std::string& bytes) const {
        std::ofstream(Path(name), std::ios::binary) << bytes;
    }

    // A small 24-bit picture with a different colour in every pixel.
    static void Pattern(TBitmap& bmp, int32_t width, int32_t height) {
        bmp.SetPixelFormat(TPixelFormat::pf24bit);
        bmp.SetSize(width, height);
        for (int32_t y = 0; y < height; ++y) {
            uint8_t* row = bmp.ScanLine(y);
            for (int32_t x = 0; x < width; ++x) {
                row[3 * x] = static_cast<uint8_t>(x * 7);
                row[3 * x + 1] = static_cast<uint8_t>(y * 11);
                row[3 * x + 2] = static_cast<uint8_t>(x * y);
            }
        }
    }

    void AnswerOpen(const std::string& path) { desktop->openAnswers.push_back({true, path, 1}); }
    void AnswerSave(const std::string& path, int filterIndex) {
        desktop->saveAnswers.push_back({true, path, filterIndex});
    }

    TScriptedDesktop* desktop = nullptr;
    std::filesystem::path folder;
    TRevision standardRevision = TRevision::Current;

private:
    std::unique_ptr<IDesktop> previous_;
    TMailSender previousMail_;
};

// Same size and the same colour in every pixel (alpha not compared).
inline ::testing::AssertionResult SameColours(const TBitmap& a, const TBitmap& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height()) {
        return ::testing::AssertionFailure() << "sizes " << a.Width() << "x" << a.Height() << " and "
                                             << b.Width() << "x" << b.Height();
    }
    for (int32_t y = 0; y < a.Height(); ++y) {
        for (int32_t x = 0; x < a.Width(); ++x) {
            if (a.Pixel(x, y) != b.Pixel(x, y)) {
                return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") differs";
            }
        }
    }
    return ::testing::AssertionSuccess();
}

// Same size and the same 32-bit bytes, alpha included.
inline ::testing::AssertionResult SameBytes32(const TBitmap& a, const TBitmap& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height()) {
        return ::testing::AssertionFailure() << "sizes " << a.Width() << "x" << a.Height() << " and "
                                             << b.Width() << "x" << b.Height();
    }
    if (a.PixelFormat() != TPixelFormat::pf32bit || b.PixelFormat() != TPixelFormat::pf32bit) {
        return ::testing::AssertionFailure() << "not both 32 bits per pixel";
    }
    for (int32_t y = 0; y < a.Height(); ++y) {
        if (std::memcmp(a.ScanLine(y), b.ScanLine(y), static_cast<size_t>(a.Width()) * 4) != 0) {
            return ::testing::AssertionFailure() << "row " << y << " differs";
        }
    }
    return ::testing::AssertionSuccess();
}

}  // namespace windows_test
