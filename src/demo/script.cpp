#include "demo/script.h"

#include <clocale>
#include <cstdlib>
#include <langinfo.h>
#include <locale.h>

#include "base/limits.h"
#include "base/report.h"

namespace {

// The user's decimal separator, read once: scripts written with "." work
// everywhere, and scripts written for the local separator keep working too.
char LocaleSeparator() {
    static const char separator = [] {
        locale_t userLocale = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0));
        if (!userLocale) return '.';
        const char* radix = nl_langinfo_l(RADIXCHAR, userLocale);
        const char result = (radix && radix[0] && !radix[1]) ? radix[0] : '.';
        freelocale(userLocale);
        return result;
    }();
    return separator;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

void TParser::Parse(const std::string& line) {
    std::string text = line;
    const size_t comment = text.find("//");
    if (comment != std::string::npos) text.erase(comment);

    Command.clear();
    size_t start = 0;
    // Lines longer than the token storage keep their first tokens; the
    // split stops there, so a huge line costs no more than its tokens.
    while (Command.size() < size_t(limits::MaxTokens)) {
        const size_t space = text.find(' ', start);
        if (space == std::string::npos) {
            Command.push_back(text.substr(start));
            break;
        }
        if (space > start) Command.push_back(text.substr(start, space - start));
        start = space + 1;
    }
}

std::vector<std::string> SplitScriptLines(const std::string& text) {
    std::vector<std::string> lines;
    const size_t end = std::min(text.find('\0'), text.size());
    std::string current;
    bool pending = false; // text seen since the last line end
    for (size_t i = 0; i < end; ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(current);
            current.clear();
            pending = false;
            if (c == '\r' && i + 1 < end && text[i + 1] == '\n') ++i;
        } else {
            current += c;
            pending = true;
        }
    }
    if (pending) lines.push_back(current);
    return lines;
}

std::string ApplyMacros(const std::string& line, const std::vector<std::string>& keys,
                        const std::vector<std::string>& values) {
    std::string result = line;
    for (size_t k = 0; k < keys.size() && k < values.size(); ++k) {
        if (keys[k].empty()) continue;
        const size_t at = result.find(keys[k]);
        if (at != std::string::npos) result.replace(at, keys[k].size(), values[k]);
    }
    return result;
}

std::string ArgText(const TCDemoCommand& command, size_t n) {
    std::string text;
    for (size_t i = n; i < command.size(); ++i) {
        text += command[i];
        text += ' ';
    }
    if (!text.empty()) text.pop_back();
    return text;
}

std::optional<int> ParseInteger(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    if (i >= text.size()) return std::nullopt;

    bool hex = false;
    if (text[i] == '$' || text[i] == 'x' || text[i] == 'X') {
        hex = true;
        ++i;
    } else if (text[i] == '0' && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }
    if (i >= text.size()) return std::nullopt;

    uint64_t value = 0;
    for (; i < text.size(); ++i) {
        if (hex) {
            const int digit = HexValue(text[i]);
            if (digit < 0) return std::nullopt;
            value = value * 16 + uint64_t(digit);
            if (value > 0xFFFFFFFFull) return std::nullopt;
        } else {
            if (!IsDigit(text[i])) return std::nullopt;
            value = value * 10 + uint64_t(text[i] - '0');
            if (value > 0x80000000ull) return std::nullopt;
        }
    }
    if (hex) {
        const int32_t bits = int32_t(uint32_t(value));
        return negative ? int32_t(0u - uint32_t(bits)) : bits;
    }
    if (negative) return int32_t(-int64_t(value));
    if (value > 0x7FFFFFFFull) return std::nullopt;
    return int32_t(value);
}

std::optional<long double> ParseReal(const std::string& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && text[begin] == ' ') ++begin;
    while (end > begin && text[end - 1] == ' ') --end;

    // Rebuild the number in the C locale's form, checking the shape on the way.
    std::string canonical;
    size_t i = begin;
    if (i < end && (text[i] == '-' || text[i] == '+')) canonical += text[i++];
    size_t digits = 0;
    while (i < end && IsDigit(text[i])) {
        canonical += text[i++];
        ++digits;
    }
    if (i < end && (text[i] == '.' || text[i] == LocaleSeparator())) {
        canonical += '.';
        ++i;
        while (i < end && IsDigit(text[i])) {
            canonical += text[i++];
            ++digits;
        }
    }
    if (digits == 0) return std::nullopt;
    if (i < end && (text[i] == 'e' || text[i] == 'E')) {
        canonical += 'e';
        ++i;
        if (i < end && (text[i] == '-' || text[i] == '+')) canonical += text[i++];
        size_t expDigits = 0;
        while (i < end && IsDigit(text[i])) {
            canonical += text[i++];
            ++expDigits;
        }
        if (expDigits == 0) return std::nullopt;
    }
    if (i != end) return std::nullopt;

    static locale_t cLocale = newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(0));
    return strtold_l(canonical.c_str(), nullptr, cLocale);
}

int StrToInt(const std::string& text) {
    const auto value = ParseInteger(text);
    if (!value) RaiseApplicationError("'" + text + "' is not a valid integer value");
    return *value;
}

long double StrToFloat(const std::string& text) {
    const auto value = ParseReal(text);
    if (!value) RaiseApplicationError("'" + text + "' is not a valid floating point value");
    return *value;
}

int ArgInt(const TCDemoCommand& command, size_t n) { return StrToInt(ArgText(command, n)); }

long double ArgFloat(const TCDemoCommand& command, size_t n) { return StrToFloat(ArgText(command, n)); }

bool ArgBool(const TCDemoCommand& command, size_t n) {
    std::string text = ArgText(command, n);
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return text == "true";
}

std::string TokenText(const TCDemoCommand& command, size_t n) {
    return n < command.size() ? command[n] : std::string();
}

int TokenInt(const TCDemoCommand& command, size_t n) { return StrToInt(TokenText(command, n)); }

long double TokenFloat(const TCDemoCommand& command, size_t n) { return StrToFloat(TokenText(command, n)); }
