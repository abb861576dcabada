#pragma once

// A table row's description as a test's name: GoogleTest takes letters and
// digits only.
#include <cctype>
#include <string>

namespace glyphound::testing {

inline std::string caseNameOf(const char* what) {
    std::string name;
    for (const char* c = what; *c; ++c)
        if (std::isalnum(static_cast<unsigned char>(*c))) name += *c;
    return name;
}

}  // namespace glyphound::testing
