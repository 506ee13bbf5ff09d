#pragma once

#include "murmex.h"

#include <QString>

#include <exception>

namespace murmex {

// The library's texts: the installed translation (context "Murmex") when
// there is one, else the built-in default. A key without a default (the
// survey's choice placeholder) is empty without a translation.
class MurmexStrings {
public:
    static QString text(const char* key);
    static QString serverError(int status);
    static QString category(MurmexCategory category);
    // The user's sentence for a failed submission; `encodingKey` names the form's own.
    static QString failure(const std::exception& error, const char* encodingKey);
};

}  // namespace murmex
