// The licence documents: how text becomes RTF, and the three documents the build
// makes from the repository's texts, read back as the rich edit control would.
#include "licence.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in) << path;
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(EscapeRtfText, EscapesRtfSyntaxAndEverythingBeyondAscii) {
    const std::pair<const char*, const char*> cases[] = {
        {"plain, text (1).", "plain, text (1)."},
        {"a{b}c\\d", "a\\{b\\}c\\\\d"},
        {"a\tb", "a\\tab b"},
        {"\xC3\xA9", "\\u233?"},                     // U+00E9, two bytes
        {"\xE3\x82\xA2", "\\u12450?"},               // U+30A2 katakana A
        {"\xE4\xBD\xBF", "\\u20351?"},               // U+4F7F, below 0x8000
        {"\xEF\xBC\x88", "\\u-248?"},                // U+FF08: signed 16 bits
        {"\xEF\xBF\xBF", "\\u-1?"},                  // U+FFFF
        {"\xF0\x9F\x98\x80", "\\u-10179?\\u-8704?"}, // U+1F600 as a surrogate pair
    };
    for (const auto& [text, expected] : cases) {
        std::string rtf, error;
        EXPECT_TRUE(EscapeRtfText(text, rtf, error)) << text << ": " << error;
        EXPECT_EQ(rtf, expected);
    }
}

TEST(EscapeRtfText, RefusesMalformedUtf8AndControlCharacters) {
    const std::pair<const char*, const char*> cases[] = {
        {"a\x80", "lone continuation byte"},
        {"\xC0\xAF", "overlong slash"},
        {"\xE0\x80\xAF", "overlong in three bytes"},
        {"\xED\xA0\x80", "surrogate"},
        {"\xF4\x90\x80\x80", "beyond U+10FFFF"},
        {"\xE3\x81", "cut short"},
        {"\xE3\x41\x81", "continuation missing"},
        {"\xFF", "invalid lead byte"},
        {"a\x01", "control character"},
        {"a\x7F", "delete"},
    };
    for (const auto& [text, what] : cases) {
        std::string rtf, error;
        EXPECT_FALSE(EscapeRtfText(text, rtf, error)) << what;
        EXPECT_FALSE(error.empty()) << what;
    }
}

TEST(BuildLicenceRtf, NamesTheLineOfAFault) {
    std::string rtf, error;
    EXPECT_FALSE(
        BuildLicenceRtf("fine\nalso fine\nbroken \xC3\n", *FindLicenceStyle(1033), rtf, error));
    EXPECT_EQ(error.rfind("line 3:", 0), 0u) << error;
}

// RTF as a reader sees it: the text with \uN? turned back into characters (the '?'
// skipped), escapes undone, \par as a line break, the font table and other control
// words left out. Only what these documents use.
std::u16string ReadRtfText(const std::string& rtf) {
    std::u16string text;
    int depth = 0, skipBelow = 0; // skip groups deeper than this while set
    for (size_t i = 0; i < rtf.size();) {
        const char c = rtf[i];
        if (c == '{' || c == '}') {
            depth += c == '{' ? 1 : -1;
            if (skipBelow != 0 && depth < skipBelow) {
                skipBelow = 0;
            }
            ++i;
        } else if (c == '\\' && i + 1 < rtf.size() &&
                   !isalpha(static_cast<unsigned char>(rtf[i + 1]))) {
            if (skipBelow == 0) {
                text += static_cast<char16_t>(rtf[i + 1]);
            }
            i += 2;
        } else if (c == '\\') {
            size_t end = i + 1;
            while (end < rtf.size() && isalpha(static_cast<unsigned char>(rtf[end]))) {
                ++end;
            }
            const std::string word = rtf.substr(i + 1, end - i - 1);
            size_t numberEnd = end;
            while (numberEnd < rtf.size() &&
                   (rtf[numberEnd] == '-' || isdigit(static_cast<unsigned char>(rtf[numberEnd])))) {
                ++numberEnd;
            }
            const std::string number = rtf.substr(end, numberEnd - end);
            i = numberEnd;
            if (i < rtf.size() && rtf[i] == ' ') {
                ++i; // the delimiter belongs to the control word
            }
            if (word == "fonttbl") {
                skipBelow = depth;
            } else if (skipBelow != 0) {
            } else if (word == "u") {
                text += static_cast<char16_t>(std::stoi(number) & 0xFFFF);
                ++i; // \uc1: one fallback character follows
            } else if (word == "par") {
                text += u'\n';
            } else if (word == "tab") {
                text += u'\t';
            }
        } else {
            if (c != '\n' && c != '\r' && skipBelow == 0) {
                text += static_cast<char16_t>(static_cast<unsigned char>(c));
            }
            ++i;
        }
    }
    return text;
}

// The source text as it should read: markers of titles and headings gone.
std::u16string ExpectedText(const std::string& source) {
    std::string plain;
    size_t at = 0;
    while (at < source.size()) {
        size_t end = source.find('\n', at);
        std::string line = source.substr(at, end - at);
        if (line.rfind("# ", 0) == 0) {
            line.erase(0, 2);
        } else if (line.rfind("## ", 0) == 0) {
            line.erase(0, 3);
        }
        plain += line + "\n";
        at = end == std::string::npos ? source.size() : end + 1;
    }
    std::u16string text;
    for (size_t i = 0; i < plain.size();) {
        const auto lead = static_cast<unsigned char>(plain[i]);
        const int extra = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
        char32_t code = extra == 0 ? lead : lead & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k) {
            code = code << 6 | (plain[i + k] & 0x3F);
        }
        if (code >= 0x10000) {
            text += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
            text += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            text += static_cast<char16_t>(code);
        }
        i += 1 + extra;
    }
    return text;
}

struct Document {
    int language;
    const char* fontEntry;
};

const Document kDocuments[] = {{1033, "\\fcharset0 Tahoma;"},
                               {1041, "\\fcharset128 MS UI Gothic;"},
                               {2052, "\\fcharset134 SimSun;"}};

std::string DocumentPath(int language) {
    return std::string(QG_LICENCE_DOCUMENTS) + "/licence_" + std::to_string(language) + ".rtf";
}

std::string SourcePath(int language) {
    return std::string(QG_LICENCE_SOURCES) + "/licence_" + std::to_string(language) + ".txt";
}

TEST(LicenceDocuments, StartAsRtf1WithCodePage932AndAreSevenBitClean) {
    for (const Document& d : kDocuments) {
        const std::string rtf = ReadFile(DocumentPath(d.language));
        SCOPED_TRACE(d.language);
        EXPECT_EQ(rtf.rfind("{\\rtf1\\ansi\\ansicpg932", 0), 0u);
        const auto high = std::find_if(rtf.begin(), rtf.end(), [](char c) {
            return static_cast<unsigned char>(c) > 0x7E ||
                   (static_cast<unsigned char>(c) < 0x20 && c != '\n');
        });
        EXPECT_EQ(high, rtf.end()) << "byte at " << (high - rtf.begin());
        EXPECT_NE(rtf.find(d.fontEntry), std::string::npos) << d.fontEntry;
        EXPECT_NE(rtf.find("\\deflang" + std::to_string(d.language)), std::string::npos);
    }
}

TEST(LicenceDocuments, BracesBalanceAndCloseTheDocumentAtTheEnd) {
    for (const Document& d : kDocuments) {
        const std::string rtf = ReadFile(DocumentPath(d.language));
        int depth = 0;
        size_t closedAt = std::string::npos;
        for (size_t i = 0; i < rtf.size(); ++i) {
            if (rtf[i] == '\\') {
                ++i; // an escaped brace or backslash is text
            } else if (rtf[i] == '{') {
                ++depth;
            } else if (rtf[i] == '}' && --depth == 0) {
                closedAt = i;
                break;
            }
            ASSERT_GE(depth, 0) << d.language << " at " << i;
        }
        EXPECT_EQ(depth, 0) << d.language;
        // Only the final line break may follow the outermost group.
        EXPECT_EQ(rtf.substr(closedAt + 1), "\n") << d.language;
    }
}

TEST(LicenceDocuments, ReadBackAsTheirSourceText) {
    for (const Document& d : kDocuments) {
        const std::u16string text = ReadRtfText(ReadFile(DocumentPath(d.language)));
        EXPECT_TRUE(text == ExpectedText(ReadFile(SourcePath(d.language)))) << d.language;
        // The terms a user must find in every language: the restart and the removal
        // are spelled out, not left to the wizard.
        EXPECT_GT(text.size(), 1000u) << d.language;
    }
}

TEST(LicenceStyle, EachLanguageHasAFontForItsScript) {
    EXPECT_EQ(FindLicenceStyle(1033)->charset, 0);
    EXPECT_EQ(FindLicenceStyle(1041)->charset, 128);
    EXPECT_EQ(FindLicenceStyle(2052)->charset, 134);
    EXPECT_EQ(FindLicenceStyle(1028), nullptr); // Traditional Chinese: not shipped
    EXPECT_EQ(FindLicenceStyle(0), nullptr);
}

} // namespace
