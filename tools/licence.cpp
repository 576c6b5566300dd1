#include "licence.h"

#include <cstdint>
#include <cstdio>

const LicenceStyle* FindLicenceStyle(int language) {
    // Charsets: 0 ANSI, 128 Shift-JIS, 134 GB2312. The code page stays 932 in all
    // three documents: every character outside ASCII travels as a \u escape.
    static const LicenceStyle kStyles[] = {
        {1033, "Tahoma", 0}, {1041, "MS UI Gothic", 128}, {2052, "SimSun", 134}};
    for (const LicenceStyle& style : kStyles) {
        if (style.language == language) {
            return &style;
        }
    }
    return nullptr;
}

namespace {

// Decodes one UTF-8 sequence at `at`; false on anything that is not shortest-form
// UTF-8 of a Unicode scalar value.
bool DecodeUtf8(const std::string& s, size_t& at, uint32_t& code) {
    const auto lead = static_cast<uint8_t>(s[at]);
    int extra;
    uint32_t minimum;
    if (lead < 0x80) {
        code = lead;
        ++at;
        return true;
    } else if ((lead & 0xE0) == 0xC0) {
        extra = 1, minimum = 0x80, code = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2, minimum = 0x800, code = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3, minimum = 0x10000, code = lead & 0x07;
    } else {
        return false;
    }
    if (s.size() - at <= static_cast<size_t>(extra)) {
        return false;
    }
    for (int i = 1; i <= extra; ++i) {
        const auto next = static_cast<uint8_t>(s[at + i]);
        if ((next & 0xC0) != 0x80) {
            return false;
        }
        code = code << 6 | (next & 0x3F);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        return false;
    }
    at += 1 + extra;
    return true;
}

void AppendUnicodeEscape(std::string& rtf, uint32_t unit) {
    // RTF's \u takes a signed 16-bit number.
    const int value = unit > 0x7FFF ? static_cast<int>(unit) - 0x10000 : static_cast<int>(unit);
    rtf += "\\u" + std::to_string(value) + "?";
}

} // namespace

bool EscapeRtfText(const std::string& utf8, std::string& rtf, std::string& error) {
    size_t at = 0;
    while (at < utf8.size()) {
        const size_t start = at;
        uint32_t code;
        if (!DecodeUtf8(utf8, at, code)) {
            error = "malformed UTF-8 at byte " + std::to_string(start);
            return false;
        }
        if (code == '\\' || code == '{' || code == '}') {
            rtf += '\\';
            rtf += static_cast<char>(code);
        } else if (code == '\t') {
            rtf += "\\tab ";
        } else if (code < 0x20 || code == 0x7F) {
            error = "control character at byte " + std::to_string(start);
            return false;
        } else if (code < 0x80) {
            rtf += static_cast<char>(code);
        } else if (code < 0x10000) {
            AppendUnicodeEscape(rtf, code);
        } else {
            AppendUnicodeEscape(rtf, 0xD800 + ((code - 0x10000) >> 10));
            AppendUnicodeEscape(rtf, 0xDC00 + ((code - 0x10000) & 0x3FF));
        }
    }
    return true;
}

bool BuildLicenceRtf(const std::string& source, const LicenceStyle& style, std::string& rtf,
                     std::string& error) {
    const std::string lang = std::to_string(style.language);
    rtf = "{\\rtf1\\ansi\\ansicpg932\\deff0\\deflang" + lang + "{\\fonttbl{\\f0\\fnil\\fcharset" +
          std::to_string(style.charset) + " " + style.fontName + ";}}\n" +
          "\\viewkind4\\uc1\\pard\\sa60\\lang" + lang + "\\f0\\fs18\n";
    size_t lineStart = 0;
    int lineNumber = 1;
    while (lineStart < source.size()) {
        size_t lineEnd = source.find('\n', lineStart);
        if (lineEnd == std::string::npos) {
            lineEnd = source.size();
        }
        std::string line = source.substr(lineStart, lineEnd - lineStart);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        std::string text;
        std::string lineError;
        const bool title = line.rfind("# ", 0) == 0, heading = line.rfind("## ", 0) == 0;
        const size_t skip = title ? 2 : heading ? 3 : 0;
        if (!EscapeRtfText(line.substr(skip), text, lineError)) {
            error = "line " + std::to_string(lineNumber) + ": " + lineError;
            return false;
        }
        if (title) {
            rtf += "\\qc\\sa120{\\b\\fs24 " + text + "}\\par\n\\pard\\sa60\n";
        } else if (heading) {
            rtf += "\\sb60{\\b\\fs20 " + text + "}\\par\n\\pard\\sa60\n";
        } else {
            rtf += text + "\\par\n";
        }
        lineStart = lineEnd + 1;
        ++lineNumber;
    }
    rtf += "}\n";
    return true;
}
