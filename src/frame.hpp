// The checks, buffers, result and fill values that every function runs around its loop.
// The loops index raw, densely packed buffers and never look at strides: the contiguity
// test here is what makes that valid, so it comes first.
#pragma once

#include <cstdint>
#include <stdexcept>

#include "common.hpp"

namespace velquin {

inline constexpr const char* not_contiguous_message =
    "NDArray must be c contiguous. Warp the NDArray with np.ascontiguousarray";

inline bool is_c_contiguous(const py::array& a) {
    // NumPy's flags are a signed int; the test is on their bits.
    return (static_cast<unsigned>(a.flags()) & static_cast<unsigned>(py::array::c_style)) != 0;
}

// A fill value: the given sample when the argument is None, else the argument converted
// by pybind11's cast (which raises its cast error for an unconvertible object).
template <class T>
T resolve_fill(const py::object& fill, const T& default_sample) {
    return fill.is_none() ? default_sample : fill.cast<T>();
}

// Runs the frame, then `loop(signal, n, x, m, left, right, result)`, which must write
// every result[0..m-1]. The inputs may sit at any alignment and must be read as packed
// elements; the result is freshly allocated by NumPy and therefore aligned. Data pointers,
// dimensions and sizes are read from the arrays directly: buffer requests would allocate
// on every call.
template <class T, class X, class Loop>
array<T> run_1d_frame(const array<T>& signal, const array<X>& x, const py::object& left,
                      const py::object& right, Loop loop) {
    if (!is_c_contiguous(signal) || !is_c_contiguous(x)) {
        throw std::runtime_error(not_contiguous_message);
    }
    if (signal.ndim() != 1 || x.ndim() != 1) {
        throw std::runtime_error("Input arrays must be 1-dimensional");
    }
    const auto n = static_cast<std::uint64_t>(signal.size());
    const auto m = static_cast<std::uint64_t>(x.size());
    if (n < 2) {
        throw std::runtime_error("Signal must have at least 2 points");
    }
    array<T> result(x.size());

    const packed_elements<T> samples(signal.data());
    const T left_fill = resolve_fill(left, samples[0]);
    const T right_fill = resolve_fill(right, samples[n - 1]);
    loop(static_cast<const void*>(signal.data()), n, static_cast<const void*>(x.data()), m,
         left_fill, right_fill, result.mutable_data());
    return result;
}

// Runs the frame of the row function, then `blend(signal, rows, cols, x, result)`, which
// must write every result[0..cols-1]. The signal may sit at any alignment.
template <class T, class Blend>
array<T> run_vertical_frame(const array<T>& signal, double x, Blend blend) {
    if (!is_c_contiguous(signal)) {
        throw std::runtime_error(not_contiguous_message);
    }
    if (signal.ndim() != 2) {
        throw std::runtime_error("Input array must be 2-dimensional");
    }
    const auto rows = static_cast<std::uint64_t>(signal.shape(0));
    const auto cols = static_cast<std::uint64_t>(signal.shape(1));
    if (rows < 2) {
        throw std::runtime_error("Signal must have at least 2 rows");
    }
    array<T> result(signal.shape(1));
    blend(static_cast<const void*>(signal.data()), rows, cols, x, result.mutable_data());
    return result;
}

}  // namespace velquin
