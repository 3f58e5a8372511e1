// Base64 decoding of byte-string values and the OEM (code page 437) conversion.
#include <gtest/gtest.h>
#include <iconv.h>

#include <string>

#include "engine/CodePage.h"
#include "engine/QelMIME.h"

namespace qel {
namespace {

struct Base64Case {
    const char* name;
    std::string text;
    std::string bytes;
};

class Base64 : public ::testing::TestWithParam<Base64Case> {};

TEST_P(Base64, Decodes) {
    EXPECT_EQ(Base64Decode(GetParam().text), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(Rfc4648Vectors, Base64,
                         ::testing::Values(Base64Case{"empty", "", ""},
                                           Base64Case{"f", "Zg==", "f"},
                                           Base64Case{"fo", "Zm8=", "fo"},
                                           Base64Case{"foo", "Zm9v", "foo"},
                                           Base64Case{"foob", "Zm9vYg==", "foob"},
                                           Base64Case{"fooba", "Zm9vYmE=", "fooba"},
                                           Base64Case{"foobar", "Zm9vYmFy", "foobar"}),
                         [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(Groups, Base64,
                         ::testing::Values(
                             // Every bit of the alphabet's top values comes through.
                             Base64Case{"high_bytes", "+/+/", std::string("\xfb\xff\xbf")},
                             Base64Case{"all_ones", "////", std::string("\xff\xff\xff")},
                             Base64Case{"zero_bytes", "AAAA", std::string(3, '\0')},
                             // Only whole groups are read.
                             Base64Case{"shorter_than_a_group", "Zm9", ""},
                             Base64Case{"trailing_part_ignored", "Zm9vYg", "foo"},
                             // "=" ends a group, not the text.
                             Base64Case{"padding_mid_text", "Zg==Zm8=", "ffo"},
                             Base64Case{"group_starting_with_pad", "=AAAZm9v", "foo"},
                             Base64Case{"only_pads", "====", ""},
                             // Characters outside the alphabet are not rejected; they count as 0.
                             Base64Case{"outside_alphabet", "Z!==", "d"},
                             Base64Case{"line_break_in_group", "Zm9v\nAAA",
                                        std::string("foo\0\0\0", 6)}),
                         [](const auto& info) { return std::string(info.param.name); });

struct OemCase {
    const char* name;
    std::string oem;
    std::string utf8;
};

class OemToUtf8 : public ::testing::TestWithParam<OemCase> {};

TEST_P(OemToUtf8, Converts) {
    EXPECT_EQ(OemToAnsi(GetParam().oem), GetParam().utf8);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, OemToUtf8,
    ::testing::Values(OemCase{"empty", "", ""},
                      OemCase{"ascii_and_controls", std::string("Host\t200\r\n\x01\x7f", 11),
                              std::string("Host\t200\r\n\x01\x7f", 11)},
                      OemCase{"latin_letters",
                              "M\x81nchen \x87"
                              "a",
                              "M\xc3\xbcnchen \xc3\xa7"
                              "a"},
                      OemCase{"box_drawing", "\xc9\xcd\xbb",
                              "\xe2\x95\x94\xe2\x95\x90\xe2\x95\x97"},
                      OemCase{"first_and_last", "\x80\xff", "\xc3\x87\xc2\xa0"},
                      OemCase{"greek_and_math", "\xe1\xe3\xf1", "\xc3\x9f\xcf\x80\xc2\xb1"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(OemToUtf8, LeavesTextAloneWhenNotAsked) {
    EXPECT_EQ(ConvertCharacterSet(false, "\x81"), "\x81");
    EXPECT_EQ(ConvertCharacterSet(true, "\x81"), "\xc3\xbc");
}

// Every upper-half character against the C library's own code page tables.
TEST(OemToUtf8, AgreesWithTheSystemConverter) {
    iconv_t cd = iconv_open("UTF-8", "CP437");
    if (cd == reinterpret_cast<iconv_t>(-1)) GTEST_SKIP() << "no CP437 converter on this system";
    for (int c = 0x80; c <= 0xFF; ++c) {
        char in[1] = {static_cast<char>(c)};
        char out[8] = {};
        char* inp = in;
        char* outp = out;
        std::size_t inLeft = 1, outLeft = sizeof out;
        ASSERT_NE(iconv(cd, &inp, &inLeft, &outp, &outLeft), static_cast<std::size_t>(-1)) << c;
        EXPECT_EQ(OemToAnsi(std::string(1, static_cast<char>(c))),
                  std::string(out, sizeof out - outLeft))
            << "byte " << c;
    }
    iconv_close(cd);
}

}  // namespace
}  // namespace qel
