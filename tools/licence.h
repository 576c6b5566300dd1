// The licence texts, kept as readable UTF-8 in the repository, turned into the
// 8-bit RTF that setup shows in its rich edit control.
#pragma once

#include <string>

// How a language's document is set: its language id, and the font (with its
// character set) that carries its script.
struct LicenceStyle {
    int language;
    const char* fontName;
    int charset;
};

// The style of 1033, 1041 or 2052; null for any other language.
const LicenceStyle* FindLicenceStyle(int language);

// The RTF body text of one line of UTF-8: RTF's own characters escaped, anything
// beyond ASCII as \uN? escapes (UTF-16 units, signed, '?' for readers that do
// not know them). False, with `error` set, on malformed UTF-8 or control characters.
bool EscapeRtfText(const std::string& utf8, std::string& rtf, std::string& error);

// A whole document from the source text. Every source line is a paragraph; a
// line starting "# " is the document's title, "## " a heading; empty lines space
// the paragraphs. The document starts {\rtf1\ansi\ansicpg932 and is 7-bit clean.
bool BuildLicenceRtf(const std::string& source, const LicenceStyle& style, std::string& rtf,
                     std::string& error);
