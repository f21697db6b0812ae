#pragma once

namespace qlx {

// Swaps the new "qlxtools.xml" of the current directory in with the host's
// zqtool: removes the installed definitions, copies the new file over the
// installed one, and adds the definitions again. True only when both zqtool
// runs succeed and the new file was copied.
bool RefreshToolRegistration();

}  // namespace qlx
