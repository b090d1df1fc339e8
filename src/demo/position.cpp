#include "demo/position.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <vector>

#include "demo/tracker.h"

namespace {

// Splits at ':' keeping empty parts, so "2::1" is refused rather than read
// as something the user did not write.
std::vector<std::string> SplitColons(const std::string& text) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t colon = text.find(':', start);
        parts.push_back(text.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
        if (colon == std::string::npos) return parts;
        start = colon + 1;
    }
}

bool AllDigits(const std::string& text) {
    if (text.empty() || text.size() > 10) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

} // namespace

bool ParseDemoPosition(const std::string& text, TDemoPosition& position, std::string& error) {
    if (text.empty()) {
        error = "a position is seconds (12.5) or pattern:bar[:beat[:row]] (2:1)";
        return false;
    }
    if (text.find(':') == std::string::npos) {
        char* end = nullptr;
        errno = 0;
        const double seconds = std::strtod(text.c_str(), &end);
        // Only plain decimal numbers: no "inf", "nan" or hexadecimal forms.
        const bool plain = text.find_first_not_of("0123456789.+-eE") == std::string::npos;
        if (!plain || end == nullptr || *end != '\0' || !std::isfinite(seconds) || errno == ERANGE) {
            error = "'" + text + "' is not a position: give seconds (12.5) or pattern:bar[:beat[:row]] (2:1)";
            return false;
        }
        if (seconds < 0) {
            error = "'" + text + "' lies before the demo's start";
            return false;
        }
        if (seconds > 1e7) {
            error = "'" + text + "' is past any demo's end";
            return false;
        }
        position = TDemoPosition{false, seconds, 0};
        return true;
    }
    const std::vector<std::string> parts = SplitColons(text);
    if (parts.size() < 2 || parts.size() > 4) {
        error = "'" + text + "' is not a position: a tracker position is pattern:bar[:beat[:row]]";
        return false;
    }
    const int64_t weights[4] = {64, 16, 4, 1};
    int64_t rows = 0;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (!AllDigits(parts[i])) {
            error = "'" + text + "' is not a position: pattern, bar, beat and row are whole numbers 0 or more";
            return false;
        }
        rows += std::strtoll(parts[i].c_str(), nullptr, 10) * weights[i];
    }
    if (rows > std::numeric_limits<int32_t>::max()) {
        error = "'" + text + "' is past any demo's end";
        return false;
    }
    position = TDemoPosition{true, 0, int32_t(rows)};
    return true;
}

float RowStartSeconds(const TDemoTracker& tracker, int32_t row) {
    float seconds = tracker.RowTime(row);
    // RowTime narrows to 32 bits, which can land a hair before the row; step
    // up to the first float that lies in it (a few steps at most).
    for (int i = 0; i < 64 && std::isfinite(seconds) && tracker.RowAt(seconds) < row; ++i)
        seconds = std::nextafter(seconds, std::numeric_limits<float>::infinity());
    return seconds;
}

float PositionSeconds(const TDemoPosition& position, const TDemoTracker& tracker) {
    if (position.IsRow) return RowStartSeconds(tracker, position.Row);
    return float(position.Seconds);
}

std::string RowPositionText(int32_t row) {
    return std::to_string(row / 64) + ":" + std::to_string((row / 16) % 4) + ":" + std::to_string((row / 4) % 4) + ":" +
           std::to_string(row % 4);
}

std::string RowStampText(int32_t row) {
    return std::to_string(row / 64) + " :: " + std::to_string((row / 16) % 4) + " :: " + std::to_string((row / 4) % 4) +
           " :: " + std::to_string(row % 4);
}
