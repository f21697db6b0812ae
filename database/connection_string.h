#pragma once

#include <string>

namespace qlx {

// A connection-string attribute value, quoted only when it would otherwise
// end its attribute early or lose characters: one holding ";", beginning
// with a quote character or "=", or with a blank at either end. It then stands in
// double quotes with inner double quotes doubled, or in single quotes when
// it holds double quotes but no single quote. Any other value is unchanged.
std::string QuoteConnectionValue(const std::string& value);

}  // namespace qlx
