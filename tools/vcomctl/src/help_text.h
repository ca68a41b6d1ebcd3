#pragma once
// vcomctl --help around the options: what the tool does, and what no single
// option explains (values, exit statuses, examples). Each option's own help
// is given where the option is declared.

#include <string>

namespace vcomctl {

extern const char* const kDescription;
// Fills in the chips' ranges and behaviours from the catalogue.
std::string helpFooter();

}  // namespace vcomctl
