#pragma once
// The named error conditions live with the library's public headers, so that
// programs using the library catch the very types the stages throw; inside
// karvel they are simply Errors::...

#include <string>
#include <utility>

#include "karvel/errors.hpp"

namespace Karvel::Generic {

// What the user might try instead, carried by an error to the report, which
// prints it on a line of its own after the error's own lines.
class Hint {
public:
  explicit Hint(std::string text) : text_(std::move(text)) {}
  virtual ~Hint() = default;
  const std::string& Hint_Text() const { return text_; }

private:
  std::string text_;
};

// An error of any named condition, with a hint.
template <class Error>
class With_Hint : public Error, public Hint {
public:
  With_Hint(const Error& error, std::string hint) : Error(error), Hint(std::move(hint)) {}
};

} // namespace Karvel::Generic
