// How far apart two words are, for "did you mean" when a command or option is mistyped.
#pragma once

#include <cstddef>
#include <string>

// Edits (insertions, deletions, substitutions, swaps of neighbours) that turn `a` into `b`.
size_t edit_distance(const std::string &a, const std::string &b);
