// The INI reader/writer behind the label template: defaults for what is
// missing, edits that keep the rest of the file, and numbers and texts that
// come back as they went in.

#include "TestSupport.h"

#include <portable/ProfileIni.h>

#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

using kvprint::ProfileIni;
using tagwrighttest::readFile;
using tagwrighttest::ScratchDir;
using tagwrighttest::writeFile;

TEST(ProfileIni, MissingFileSectionOrKeyGivesTheDefault)
{
    ScratchDir dir;
    ProfileIni ini(dir.file("absent.ini"));
    ini.load();
    EXPECT_EQ(ini.readInt("Label", "port", 7U), 7U);
    EXPECT_EQ(ini.readString("User", "value", "none", 128), "none");

    writeFile(dir.file("t.ini"), "[Label]\nport=255\n");
    ProfileIni present(dir.file("t.ini"));
    present.load();
    EXPECT_EQ(present.readInt("Label", "width", 0U), 0U);
    EXPECT_EQ(present.readInt("QR", "port", 3U), 3U);
}

TEST(ProfileIni, NamesMatchWithoutCaseAndValuesAreTrimmed)
{
    ScratchDir dir;
    writeFile(dir.file("t.ini"), "; comment = 1\n[ label ]\n  PORT =  255  \n[User]\nvalue=\"  spaced  \"\n");
    ProfileIni ini(dir.file("t.ini"));
    ini.load();
    EXPECT_EQ(ini.readInt("Label", "port", 0U), 255U);
    EXPECT_EQ(ini.readString("user", "Value", "", 128), "  spaced  ");
    EXPECT_EQ(ini.readInt("", "comment", 9U), 9U);
}

TEST(ProfileIni, IntegersReadModulo32Bits)
{
    ScratchDir dir;
    writeFile(
        dir.file("t.ini"), "[N]\nmax=4294967295\nminus=-7\nlead=12abc\nword=abc\nempty=\nplus=+5\nbig=4294967296\n");
    ProfileIni ini(dir.file("t.ini"));
    ini.load();
    EXPECT_EQ(static_cast<int>(ini.readInt("N", "max", 0U)), -1);
    EXPECT_EQ(static_cast<int>(ini.readInt("N", "minus", 0U)), -7);
    EXPECT_EQ(ini.readInt("N", "lead", 0U), 12U);
    EXPECT_EQ(ini.readInt("N", "word", 5U), 0U);
    EXPECT_EQ(ini.readInt("N", "empty", 5U), 0U);
    EXPECT_EQ(ini.readInt("N", "plus", 0U), 5U);
    EXPECT_EQ(ini.readInt("N", "big", 1U), 0U);
}

TEST(ProfileIni, LongTextsAreCutBetweenCharacters)
{
    ScratchDir dir;
    // 'a' then 70 three-byte characters: 211 bytes.
    std::string text = "a";
    for (int i = 0; i < 70; ++i) {
        text += "\xE4\xB8\xAD";
    }
    writeFile(dir.file("t.ini"), "[User]\nvalue=" + text + "\n");
    ProfileIni ini(dir.file("t.ini"));
    ini.load();
    const std::string value = ini.readString("User", "value", "", 128);
    EXPECT_EQ(value.size(), 127U); // 1 + 42 * 3
    EXPECT_EQ(value, text.substr(0, 127));
    EXPECT_EQ(ini.readString("User", "value", "", 3), "a");
    EXPECT_EQ(ini.readString("User", "value", "", 0), "");
}

TEST(ProfileIni, WriteCreatesFileSectionAndKey)
{
    ScratchDir dir;
    ProfileIni ini(dir.file("new.ini"));
    ini.load();
    ini.writeString("Label", "port", "255");
    ini.writeString("QR", "QRx", "3");
    ini.writeString("Label", "width", "40");
    ASSERT_TRUE(ini.save());
    EXPECT_EQ(readFile(dir.file("new.ini")), "[Label]\nport=255\nwidth=40\n[QR]\nQRx=3\n");
}

TEST(ProfileIni, WriteKeepsOtherLinesAndReplacesInPlace)
{
    ScratchDir dir;
    const std::string original = "; printer template\n[Label]\nPort=0\n; keep me\nwidth=40\n\n[Other]\nx=1\n";
    writeFile(dir.file("t.ini"), original);
    ProfileIni ini(dir.file("t.ini"));
    ini.load();
    ini.writeString("label", "port", "255");
    ini.writeString("Label", "gaph", "2");
    ini.writeString("Other", "y", "2");
    ini.save();
    EXPECT_EQ(readFile(dir.file("t.ini")),
        "; printer template\n[Label]\nport=255\n; keep me\nwidth=40\ngaph=2\n\n[Other]\nx=1\ny=2\n");
}

TEST(ProfileIni, CrLfFilesStayCrLf)
{
    ScratchDir dir;
    writeFile(dir.file("t.ini"), "[Label]\r\nport=0\r\n");
    ProfileIni ini(dir.file("t.ini"));
    ini.load();
    EXPECT_EQ(ini.readInt("Label", "port", 9U), 0U);
    ini.writeString("Label", "width", "4");
    ini.save();
    EXPECT_EQ(readFile(dir.file("t.ini")), "[Label]\r\nport=0\r\nwidth=4\r\n");
}

TEST(ProfileIni, ALineBreakInAValueCannotAddEntries)
{
    ScratchDir dir;
    ProfileIni ini(dir.file("t.ini"));
    ini.load();
    ini.writeString("User", "value", "admin\n[Label]\nport=255");
    ini.save();
    ProfileIni reread(dir.file("t.ini"));
    reread.load();
    EXPECT_EQ(reread.readString("User", "value", "", 128), "admin");
    EXPECT_EQ(reread.readInt("Label", "port", 0U), 0U);
}

TEST(ProfileIni, SaveIntoAMissingFolderFailsQuietly)
{
    ScratchDir dir;
    ProfileIni ini(dir.file("no/such/folder/t.ini"));
    ini.load();
    ini.writeString("Label", "port", "1");
    EXPECT_FALSE(ini.save());
}

#if !defined(_WIN32)
TEST(ProfileIni, SaveWritesThroughLinksAndKeepsPermissions)
{
    ScratchDir dir;
    writeFile(dir.file("real.ini"), "[Label]\nport=0\n");
    ASSERT_EQ(::chmod(dir.file("real.ini").c_str(), 0600), 0);
    ASSERT_EQ(::symlink("real.ini", dir.file("link.ini").c_str()), 0);

    ProfileIni ini(dir.file("link.ini"));
    ini.load();
    ini.writeString("Label", "port", "255");
    ASSERT_TRUE(ini.save());

    struct stat link { };
    ASSERT_EQ(::lstat(dir.file("link.ini").c_str(), &link), 0);
    EXPECT_TRUE(S_ISLNK(link.st_mode));
    EXPECT_EQ(readFile(dir.file("real.ini")), "[Label]\nport=255\n");

    ProfileIni direct(dir.file("real.ini"));
    direct.load();
    direct.writeString("Label", "width", "1");
    ASSERT_TRUE(direct.save());
    struct stat real { };
    ASSERT_EQ(::stat(dir.file("real.ini").c_str(), &real), 0);
    EXPECT_EQ(real.st_mode & 0777, 0600U);
}
#endif
