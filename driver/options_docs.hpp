#pragma once
// The man page's OPTIONS and the bash completion, written from the options
// table at build time by karvel_docs (driver/docs_main.cpp).

#include <string>
#include <vector>

#include "driver/options_table.hpp"

namespace Karvel::Options {

// The roff of every option, section by section (.SS, then a .TP item each).
std::string Man_Options(const std::vector<Option>& options);

// The man page: `page` with every line that is exactly @KARVEL_OPTIONS@
// replaced by Man_Options and every @KARVEL_VERSION@ by `version`.
std::string Man_Page(const std::string& page, const std::vector<Option>& options, const std::string& version);

// A bash completion script that defines _karvel and registers it for karvel.
std::string Bash_Completion(const std::vector<Option>& options);

} // namespace Karvel::Options
