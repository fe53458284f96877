// Labels are typed by users and shared: whatever they hold, an exported
// file's name is one every file system takes, and still tells the sound.

#include "labels/label_names.hpp"

#include <gtest/gtest.h>
#include <string>

namespace quorvel {
namespace {

TEST(ExportNames, HostileLabelsMakeNamesEverySystemTakes)
{
    struct Case {
        std::string label;
        std::string name;
    };
    const Case cases[] = {
        {"", "sfx_0012.flac"},
        {"door creak", "sfx_0012 door creak.flac"},
        {"a/b\\c:d*e?f\"g<h>i|j", "sfx_0012 a_b_c_d_e_f_g_h_i_j.flac"},
        {"../../etc/passwd", "sfx_0012 .._.._etc_passwd.flac"},
        {"tab\there\nline\rdel\x7f", "sfx_0012 tab_here_line_del_.flac"},
        {"next line \xC2\x85 C1", "sfx_0012 next line _ C1.flac"},  // a C1 control character
        {"\xFF\xFE bad", "sfx_0012 __ bad.flac"},                   // bytes that are never UTF-8
        {"over\xC0\xAFlong", "sfx_0012 over__long.flac"},           // "/" written in two bytes
        {"half \xED\xA0\x80", "sfx_0012 half ___.flac"},            // a surrogate
        {"cut \xE2\x82", "sfx_0012 cut __.flac"},                   // a character cut short
        {"ends with dots...", "sfx_0012 ends with dots.flac"},
        {"  spaced  . . ", "sfx_0012   spaced.flac"},
        {"...", "sfx_0012.flac"},
        {"caf\xC3\xA9 \xF0\x9F\x94\x8A", "sfx_0012 caf\xC3\xA9 \xF0\x9F\x94\x8A.flac"},  // kept as it is
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ExportFileName("sfx_0012", c.label, "flac"), c.name) << c.label;
    }
}

TEST(ExportNames, WindowsDeviceNamesGetAPrefix)
{
    for (const std::string name : {"CON", "con", "Nul", "aux.txt", "LPT1 ", "COM9.x.y", "COM\xC2\xB9", "conin$"}) {
        const std::string safe = SafeFileName(name, "wav");
        EXPECT_EQ(safe.front(), '_') << name;
        EXPECT_TRUE(safe.ends_with(".wav")) << name;
    }
    for (const std::string name : {"CONSOLE", "NULL", "COM10", "LPT", "sfx_0001 CON"}) {
        EXPECT_EQ(SafeFileName(name, "wav"), name + ".wav");
    }
}

TEST(ExportNames, LongLabelsAreCutAtACharacterWithinTheBound)
{
    std::string label;
    for (int i = 0; i < 200; ++i) {
        label += "\xC3\xA9";  // 2 bytes a character: 400 bytes
    }
    const std::string name = ExportFileName("sfx_0012", label, "opus");
    EXPECT_EQ(name.size(), kLongestExportName);  // "sfx_0012 ", 93 characters of 2 bytes, ".opus"
    EXPECT_TRUE(name.starts_with("sfx_0012 \xC3\xA9"));
    EXPECT_TRUE(name.ends_with("\xC3\xA9.opus"));

    // The bound falls inside a 4-byte character: all of it goes.
    EXPECT_EQ(SafeFileName(std::string(193, 'a') + "\xF0\x9F\x98\x80", "flac"), std::string(193, 'a') + ".flac");
    // Cut where a space was: the space goes too.
    EXPECT_EQ(SafeFileName(std::string(194, 'a') + " bcd", "flac"), std::string(194, 'a') + ".flac");
}

TEST(DownloadName, TheNumberTheLabelAndTheExtension)
{
    EXPECT_EQ(DownloadName(42, ".wav", "door creak"), "0042 door creak.wav");
    EXPECT_EQ(DownloadName(10000, "", "line"), "10000 line");
    EXPECT_EQ(DownloadName(9, ".AVQF", "music"), "0009 music.AVQF");
    EXPECT_EQ(DownloadName(42, ".wav", "a/b\\c:d*e?f\"g<h>i|j"), "0042 a_b_c_d_e_f_g_h_i_j.wav");
    EXPECT_EQ(DownloadName(42, ".wav", "../../etc/passwd"), "0042 .._.._etc_passwd.wav");
    EXPECT_EQ(DownloadName(42, ".wav", "ends with dots..."), "0042 ends with dots.wav");
    EXPECT_EQ(DownloadName(42, ".wav", "Schritt auf Kies — nass"), "0042 Schritt auf Kies — nass.wav");
}

}  // namespace
}  // namespace quorvel
