#pragma once
// The man page's OPTIONS, the bash completion and the columns of --help, written from the options
// table at build time by karvel_docs (driver/docs_main.cpp).

#include <string>
#include <utility>
#include <vector>

#include "driver/options_table.hpp"

namespace Karvel::Options {

// The roff of every option, section by section (.SS, then a .TP item each).
std::string Man_Options(const std::vector<Option>& options);

// The man page: `page` with every line that is exactly @KARVEL_OPTIONS@
// replaced by Man_Options and every @KARVEL_VERSION@ by `version`.
std::string Man_Page(const std::string& page, const std::vector<Option>& options, const std::string& version);

// Two columns for --help: each left text two spaces in, each right one two
// spaces after the widest left, and wrapped at spaces so that no line is
// longer than `width`, its continuation lines under its first.
std::string Help_Columns(const std::vector<std::pair<std::string, std::string>>& lines, std::size_t width = 80);

// A bash completion script that defines _karvel and registers it for karvel.
std::string Bash_Completion(const std::vector<Option>& options);

} // namespace Karvel::Options
