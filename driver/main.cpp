#include "driver/patch_sequence.h"

// The patch takes no arguments; anything on the command line is ignored.
int main() { return qlx::RunPatch(); }
