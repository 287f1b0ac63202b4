#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/core/Classes.h"

namespace {

class TThing : public TPersistent {
public:
    const char* ClassName() const override { return "TThing"; }
};

std::string TempPath(const std::string& name) {
    return std::filesystem::temp_directory_path() / ("quillarc_cls_" + std::to_string(::getpid()) + "_" + name);
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST(Persistent, DefaultAssignNamesBothClasses) {
    TThing a, b;
    try {
        a.Assign(&b);
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "Cannot assign a TThing to a TThing");
    }
    try {
        a.Assign(nullptr);
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "Cannot assign a nil to a TThing");
    }
}

TEST(StringList, NameValueLines) {
    TStringList list;
    list.SetValue("subject", "Hello");
    list.SetValue("body", "one\r\ntwo");
    list.SetValue("Subject", "Again");
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list[0], "Subject=Again");
    EXPECT_EQ(list.Value("SUBJECT"), "Again");
    EXPECT_EQ(list.Value("body"), "one\r\ntwo");
    EXPECT_EQ(list.Value("to"), "");
    list.Add("x=a=b");
    EXPECT_EQ(list.Value("x"), "a=b");
}

TEST(StringList, TextSplitsOnEveryLineBreak) {
    TStringList list;
    list.SetText("a\r\nb\nc\rd");
    ASSERT_EQ(list.Count(), 4);
    EXPECT_EQ(list[3], "d");
    EXPECT_EQ(list.Text(), "a\r\nb\r\nc\r\nd");
    list.SetText("a\r\n\r\n");
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list[1], "");
    list.SetText("");
    EXPECT_EQ(list.Count(), 0);
    EXPECT_THROW(list[0], std::out_of_range);
}

TEST(MemoryStream, ShortReadsAndSeekingPastTheEnd) {
    TMemoryStream s;
    const uint8_t data[5] = {1, 2, 3, 4, 5};
    EXPECT_EQ(s.Write(data, 5), 5);
    EXPECT_EQ(s.Position(), 5);
    s.SetPosition(3);
    uint8_t buf[8] = {};
    EXPECT_EQ(s.Read(buf, 8), 2);
    EXPECT_EQ(buf[0], 4);
    EXPECT_EQ(s.Read(buf, 8), 0);
    EXPECT_EQ(s.Seek(10, TSeekOrigin::soEnd), 15);
    EXPECT_EQ(s.Read(buf, 1), 0);
    EXPECT_EQ(s.Remaining(), 0);
    EXPECT_EQ(s.Seek(-1, TSeekOrigin::soEnd), 4);
    EXPECT_EQ(s.Remaining(), 1);
    EXPECT_EQ(s.Seek(-2, TSeekOrigin::soCurrent), 2);
}

TEST(MemoryStream, PositionBeforeTheStartMovesNothing) {
    TMemoryStream s;
    const uint8_t data[3] = {7, 8, 9};
    s.WriteBuffer(data, 3);
    s.SetPosition(-4);
    uint8_t b = 0;
    EXPECT_EQ(s.Read(&b, 1), 0);
    EXPECT_EQ(s.Write(&b, 1), 0);
    EXPECT_EQ(s.Size(), 3);
}

TEST(MemoryStream, WritingPastTheEndFillsWithZeros) {
    TMemoryStream s;
    s.SetPosition(4);
    const uint8_t v = 9;
    s.WriteBuffer(&v, 1);
    ASSERT_EQ(s.Size(), 5);
    EXPECT_EQ(s.Memory()[0], 0);
    EXPECT_EQ(s.Memory()[4], 9);
    s.SetSize(2);
    EXPECT_EQ(s.Position(), 2);
    EXPECT_THROW(s.SetSize(-1), EStreamError);
}

TEST(Stream, ReadBufferRaisesOnShortRead) {
    TMemoryStream s;
    const uint8_t data[3] = {1, 2, 3};
    s.WriteBuffer(data, 3);
    s.SetPosition(1);
    uint8_t buf[4];
    try {
        s.ReadBuffer(buf, 4);
        FAIL();
    } catch (const EReadError& e) {
        EXPECT_EQ(e.Message(), "Stream read error");
    }
    s.SetPosition(0);
    EXPECT_NO_THROW(s.ReadBuffer(buf, 3));
    EXPECT_NO_THROW(s.ReadBuffer(buf, 0));
    EXPECT_THROW(s.ReadBuffer(buf, -1), EReadError);
}

TEST(Stream, CopyFromWholeSourceAndPart) {
    TMemoryStream a, b;
    std::vector<uint8_t> data(200000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
    a.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
    EXPECT_EQ(b.CopyFrom(a, 0), 200000);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), b.Memory()));
    a.SetPosition(199990);
    EXPECT_THROW(b.CopyFrom(a, 20), EReadError);
}

TEST(FileStream, OpenErrorsNameTheFile) {
    const std::string missing = TempPath("missing.bmp");
    try {
        TFileStream f(missing, fmOpenRead | fmShareDenyWrite);
        FAIL();
    } catch (const EFOpenError& e) {
        EXPECT_EQ(e.Message().rfind("Cannot open file \"" + missing + "\". ", 0), 0u) << e.Message();
    }
    EXPECT_THROW(TFileStream(std::filesystem::temp_directory_path().string(), fmOpenRead), EFOpenError);
    EXPECT_THROW(TFileStream(TempPath("no/such/dir.bmp"), fmCreate), EFCreateError);
}

TEST(FileStream, ReadWriteSeekLikeMemory) {
    const std::string path = TempPath("rw.bin");
    {
        TFileStream f(path, fmCreate);
        f.WriteBuffer("abcdef", 6);
        EXPECT_EQ(f.Size(), 6);
    }
    TFileStream f(path, fmOpenRead | fmShareDenyNone);
    char buf[8] = {};
    f.Seek(-2, TSeekOrigin::soEnd);
    EXPECT_EQ(f.Read(buf, 8), 2);
    EXPECT_EQ(std::string(buf, 2), "ef");
    f.SetPosition(100);
    EXPECT_EQ(f.Read(buf, 1), 0);
    EXPECT_EQ(f.Remaining(), 0);
    std::filesystem::remove(path);
}

TEST(MemoryStream, SaveReplacesTheFileWhole) {
    const std::string path = TempPath("save.bin");
    {
        std::ofstream out(path, std::ios::binary);
        out << "old contents";
    }
    ::chmod(path.c_str(), 0640);
    TMemoryStream s;
    s.WriteBuffer("new", 3);
    s.SaveToFile(path);
    EXPECT_EQ(ReadAll(path), "new");
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    TMemoryStream back;
    back.LoadFromFile(path);
    EXPECT_EQ(back.Size(), 3);
    EXPECT_EQ(back.Position(), 0);
    std::filesystem::remove(path);
}

TEST(MemoryStream, FailedSaveLeavesNoTrace) {
    const std::string dir = TempPath("nodir");
    TMemoryStream s;
    s.WriteBuffer("x", 1);
    EXPECT_THROW(s.SaveToFile(dir + "/f.bin"), EFCreateError);
    EXPECT_FALSE(std::filesystem::exists(dir));
}
