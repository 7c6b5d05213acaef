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

inline constexpr const char* arrays_changed_message =
    "input arrays changed while the fill values were converted";

// A given fill value converted as pybind11 converts a T (its cast error for an object that
// does not convert); a None fill is resolved later, to a sample.
template <class T>
T convert_fill(const py::object& fill) {
    return fill.is_none() ? T{} : fill.cast<number<T>>().value;
}

// Where an array's elements are and how many, as the loops will read them.
struct extent {
    const void* data;
    py::ssize_t size;

    template <class T>
    static extent of(const array<T>& a) {
        return {a.data(), a.size()};
    }
    friend bool operator==(const extent& a, const extent& b) {
        return a.data == b.data && a.size == b.size;
    }
};

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
    const extent checked_signal = extent::of(signal);
    const extent checked_x = extent::of(x);
    array<T> result(x.size());

    // Converting a fill value runs the caller's code (__float__, __index__, ...), which may
    // resize or free either array; nothing is read until the arrays are known unchanged.
    T left_fill = convert_fill<T>(left);
    T right_fill = convert_fill<T>(right);
    if (!(extent::of(signal) == checked_signal && extent::of(x) == checked_x)) {
        throw std::runtime_error(arrays_changed_message);
    }
    const packed_elements<T> samples(signal.data());
    if (left.is_none()) {
        left_fill = samples[0];
    }
    if (right.is_none()) {
        right_fill = samples[n - 1];
    }
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
