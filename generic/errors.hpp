#pragma once
// The named error conditions live with the library's public headers, so that
// programs using the library catch the very types the stages throw; inside
// karvel they are simply Errors::...

#include "karvel/errors.hpp"

namespace Errors = Karvel::Errors;
