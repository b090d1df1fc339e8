// The script reader: line splitting, macro substitution, the space-only
// tokenizer and the argument accessors with their number conversions.
#pragma once

#include <optional>
#include <string>
#include <vector>

// Token 0 is the keyword, tokens 1.. the arguments. Never empty.
using TCDemoCommand = std::vector<std::string>;

class TParser {
public:
    // Replaces Command with the tokens of `line`: the text from the first
    // "//" on is dropped, then the line is split at spaces (0x20) only.
    // Empty candidates are discarded except the last, so a line ending in a
    // space gets an empty last token. At most MaxTokens tokens are kept.
    void Parse(const std::string& line);

    TCDemoCommand Command{""};
};

// Splits file contents into lines: CR LF, LF and CR end a line, a final line
// end adds no empty line, a zero byte ends the text.
std::vector<std::string> SplitScriptLines(const std::string& text);

// Applies each macro key, in table order, to its first occurrence in the
// line; each key at most once per line, an empty key never matches.
std::string ApplyMacros(const std::string& line, const std::vector<std::string>& keys,
                        const std::vector<std::string>& values);

// Tokens n.. joined by single spaces; "" when n is past the last token.
std::string ArgText(const TCDemoCommand& command, size_t n);
// ArgText converted; raises the "not a valid integer value" error.
int ArgInt(const TCDemoCommand& command, size_t n);
// ArgText converted; raises the "not a valid floating point value" error.
long double ArgFloat(const TCDemoCommand& command, size_t n);
// ArgText lower-cased equals "true".
bool ArgBool(const TCDemoCommand& command, size_t n);

// Token n alone ("" when the line has no token n).
std::string TokenText(const TCDemoCommand& command, size_t n);
int TokenInt(const TCDemoCommand& command, size_t n);
long double TokenFloat(const TCDemoCommand& command, size_t n);

// The conversions themselves: nullopt when the text does not convert.
// Integers: optional spaces, sign, then decimal digits (signed 32-bit range)
// or hexadecimal after "$", "x", "X", "0x", "0X" (all 32 bits; "$FFFFFFFF" is
// -1); nothing may follow. Reals: spaces around, sign, digits with "." or
// the locale's decimal separator, optional exponent.
std::optional<int> ParseInteger(const std::string& text);
std::optional<long double> ParseReal(const std::string& text);

// Conversions that raise the application error with the offending text.
int StrToInt(const std::string& text);
long double StrToFloat(const std::string& text);
