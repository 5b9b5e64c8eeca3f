// How the engines size their scratch: it only grows, so that after the first step of a table size
// a step allocates nothing.
#pragma once

#include <cstddef>

// Each vector grown to at least n elements.
template <typename... Vectors>
void growTo(std::size_t n, Vectors&... vectors) {
    ((vectors.size() < n ? vectors.resize(n) : void()), ...);
}

// Room in each vector for n elements, for vectors filled by appending.
template <typename... Vectors>
void roomFor(std::size_t n, Vectors&... vectors) {
    (vectors.reserve(n), ...);
}
