#pragma once

// The program's own words, as the tests expect them byte for byte.
#include <string>

namespace glyphound::testing {

inline const std::string kBanner =
    "\n\tGlyphound v1.0\n\t  Searches for text hidden in game ROMs and other files.\n";
inline const std::string kPrompt = "\nEnter search string of length 3-16: ";
inline const std::string kClosing = "\nNo Further Matches Found.\n\n";
inline const std::string kShiftQuestion = "Would you like to Shift the bytes in the file? (Y/N) ";
inline const std::string kLetterAQuestion = "Where should the letter 'A' be in the CHR bank? ";
inline const std::string kShiftBackQuestion = "Would you now like to shift it back? (Y/N) ";
inline const std::string kShiftedBack =
    "Bytes shifted back to original position into file 'Output.ROM'.\n";

inline std::string matchLine(long long offset, int shift) {
    return "Match found at offset " + std::to_string(offset) + ", shifted by " +
           std::to_string(shift) + "\tLetter 'A' in CHR Bank should be at position " +
           std::to_string(shift + 65) + "\n";
}

inline std::string shiftedBy(long long amount) {
    return "Bytes shifted by " + std::to_string(amount) +
           " into file 'Shifted.BIN'.\n  You can make all your modifications now.\n\n";
}

// Standard text as the console streams write it.
inline std::string crLf(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

// `text` in an encoding `shift` above ASCII.
inline std::string encode(const std::string& text, int shift) {
    std::string out;
    for (char c : text) out += static_cast<char>(c + shift);
    return out;
}

}  // namespace glyphound::testing
