#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "platform/core/Numeric.h"
#include "platform/core/SysUtils.h"

TEST(MulDiv, RoundsHalvesAwayFromZero) {
    EXPECT_EQ(num::MulDiv(1, 100, 8), 13);
    EXPECT_EQ(num::MulDiv(2, 100, 3), 67);
    EXPECT_EQ(num::MulDiv(1, 100, 3), 33);
    EXPECT_EQ(num::MulDiv(-1, 100, 8), -13);
    EXPECT_EQ(num::MulDiv(1, -100, 8), -13);
    EXPECT_EQ(num::MulDiv(-1, -100, 8), 13);
    EXPECT_EQ(num::MulDiv(1, 100, -8), -13);
    EXPECT_EQ(num::MulDiv(3, 5, 2), 8);
    EXPECT_EQ(num::MulDiv(-3, 5, 2), -8);
}

TEST(MulDiv, UsesA64BitProduct) {
    EXPECT_EQ(num::MulDiv(2000000000, 2000000000, 2000000000), 2000000000);
    EXPECT_EQ(num::MulDiv(INT32_MIN, 1, 1), INT32_MIN);
}

TEST(MulDiv, ZeroDivisorAndOverflowGiveMinusOne) {
    EXPECT_EQ(num::MulDiv(5, 7, 0), -1);
    EXPECT_EQ(num::MulDiv(0, 0, 0), -1);
    EXPECT_EQ(num::MulDiv(2000000000, 2, 1), -1);
    EXPECT_EQ(num::MulDiv(INT32_MIN, -1, 1), -1);
}

TEST(Numeric, RoundEvenTiesToEven) {
    EXPECT_EQ(num::RoundEven(2.5L), 2);
    EXPECT_EQ(num::RoundEven(3.5L), 4);
    EXPECT_EQ(num::RoundEven(-2.5L), -2);
    EXPECT_EQ(num::Round32(0.5L), 0);
    EXPECT_EQ(num::Div(-7, 2), -3);
    EXPECT_EQ(num::Clamp255(-1), 0);
    EXPECT_EQ(num::Clamp255(256), 255);
}

TEST(FloatToStr, GeneralFormatWithoutTrailingZeros) {
    EXPECT_EQ(FloatToStr(0.09), "0.09");
    EXPECT_EQ(FloatToStr(0.9), "0.9");
    EXPECT_EQ(FloatToStr(0.75), "0.75");
    EXPECT_EQ(FloatToStr(0.025), "0.025");
    EXPECT_EQ(FloatToStr(0.05), "0.05");
    EXPECT_EQ(FloatToStr(0), "0");
    EXPECT_EQ(FloatToStr(1), "1");
    EXPECT_EQ(FloatToStr(-2.5), "-2.5");
    EXPECT_EQ(FloatToStr(100), "100");
    EXPECT_EQ(FloatToStr(123456789012345.0), "123456789012345");
    EXPECT_EQ(FloatToStr(1.0 / 3.0), "0.333333333333333");
    EXPECT_EQ(FloatToStr(0.00001), "0.00001");
    EXPECT_EQ(FloatToStr(0.000001), "1E-6");
    EXPECT_EQ(FloatToStr(1e15), "1E15");
    EXPECT_EQ(FloatToStr(1.5e20), "1.5E20");
}

TEST(StrToFloat, ParsesAndRejects) {
    EXPECT_EQ(StrToFloat("2.2"), 2.2L);
    EXPECT_EQ(StrToFloat(" -0.5 "), -0.5L);
    EXPECT_EQ(StrToFloat("+1e3"), 1000.0L);
    EXPECT_THROW(StrToFloat(""), EConvertError);
    EXPECT_THROW(StrToFloat("1,5"), EConvertError);
    EXPECT_THROW(StrToFloat("abc"), EConvertError);
    EXPECT_THROW(StrToFloat("++1"), EConvertError);
}

TEST(StrToInt, AcceptsSignedDecimalOnly) {
    EXPECT_EQ(StrToInt("42"), 42);
    EXPECT_EQ(StrToInt("+7"), 7);
    EXPECT_EQ(StrToInt("-2147483648"), INT32_MIN);
    EXPECT_EQ(StrToInt("2147483647"), INT32_MAX);
    for (const char* bad : {"", "+", "-", "2147483648", "1x", " 1", "+-1", "--1", "0x10"}) {
        try {
            StrToInt(bad);
            ADD_FAILURE() << "accepted '" << bad << "'";
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message(), std::string("'") + bad + "' is not a valid integer value");
        }
    }
    EXPECT_EQ(IntToStr(-12), "-12");
}

TEST(Strings, CaseTrimAndCompare) {
    EXPECT_EQ(UpperCase("abcXYZ\xe9"), "ABCXYZ\xe9");
    EXPECT_EQ(LowerCase("ABCxyz"), "abcxyz");
    EXPECT_EQ(CompareText("GIF", "gif"), 0);
    EXPECT_LT(CompareText("abc", "ABD"), 0);
    EXPECT_GT(CompareText("abcd", "ABC"), 0);
    EXPECT_EQ(Trim("\t  x y \r\n"), "x y");
    EXPECT_EQ(Trim("   "), "");
    EXPECT_EQ(Format("%s-%d", "a", 5), "a-5");
    EXPECT_EQ(Format("%s", std::string(5000, 'q').c_str()).size(), 5000u);
}

TEST(FileNames, ExtensionOnlyAfterTheLastSlash) {
    EXPECT_EQ(ChangeFileExt("cat.png", ".jpg"), "cat.jpg");
    EXPECT_EQ(ChangeFileExt("cat", ".jpg"), "cat.jpg");
    EXPECT_EQ(ChangeFileExt("dir.x/cat", ".jpg"), "dir.x/cat.jpg");
    EXPECT_EQ(ChangeFileExt("a.b.c", ""), "a.b");
    EXPECT_EQ(ExtractFileExt("dir.x/cat"), "");
    EXPECT_EQ(ExtractFileExt("/p/cat.Tar.GZ"), ".GZ");
    EXPECT_EQ(ExtractFileName("/p/q/cat.png"), "cat.png");
    EXPECT_EQ(ExtractFileName("cat.png"), "cat.png");
    EXPECT_EQ(ExtractFilePath("/p/q/cat.png"), "/p/q/");
    EXPECT_EQ(ExtractFilePath("cat.png"), "");
}

TEST(FileNames, ExistenceAndFolders) {
    const std::string base = std::filesystem::temp_directory_path() / ("quillarc_sys_" + std::to_string(::getpid()));
    const std::string deep = base + "/a/b/c";
    EXPECT_FALSE(DirectoryExists(deep));
    EXPECT_TRUE(ForceDirectories(deep));
    EXPECT_TRUE(DirectoryExists(deep));
    EXPECT_FALSE(FileExists(deep));  // a folder is not a file
    EXPECT_TRUE(ForceDirectories(deep));  // already there
    EXPECT_FALSE(ForceDirectories(""));
    std::filesystem::remove_all(base);
    EXPECT_FALSE(FileExists(base + "/nothing.bmp"));
}
