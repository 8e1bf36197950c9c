#pragma once
// The named error conditions live with the library's public headers, so that
// programs using the library catch the very types the stages throw; inside
// karvel they are simply Errors::...

#include <optional>
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

// An error raised at a place in the input: throw Placed(Errors::Data_Error(...),
// line, column). The condition keeps its type.
template <class Error>
Error Placed(Error error, long line, std::optional<long> column = std::nullopt) {
  error.Set_Place(line, column);
  return error;
}

// An error of any named condition, with a hint.
template <class Error>
class With_Hint : public Error, public Hint {
public:
  With_Hint(const Error& error, std::string hint) : Error(error), Hint(std::move(hint)) {}
};

} // namespace Karvel::Generic
