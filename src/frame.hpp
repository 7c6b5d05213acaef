// The checks, buffers, result and fill values that every function runs around its loop.
// The loops index raw, densely packed buffers and never look at strides: the contiguity
// test here is what makes that valid, so it comes first.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <type_traits>
#include <vector>

#include "pybind11_internals.hpp"

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
// does not convert). An exact float, and for a complex T an exact complex, is read as the
// caster would read it (Python's float value, or its complex value; for a complex T a
// float is the real part with a zero imaginary part), without the caster's lookups.
template <class T>
T convert_fill(const py::object& fill) {
    using R = real_t<T>;
    PyObject* object = fill.ptr();
    if (PyFloat_CheckExact(object)) {
        return T(static_cast<R>(PyFloat_AS_DOUBLE(object)));
    }
    if constexpr (!std::is_same_v<T, R>) {
        if (PyComplex_CheckExact(object)) {
            const Py_complex value = PyComplex_AsCComplex(object);
            return {static_cast<R>(value.real), static_cast<R>(value.imag)};
        }
    }
    return fill.cast<number<T>>().value;
}

// The memory behind the input arrays, as it was when the call began: each array and every
// array it views, followed through `base` and through the exporters of memoryviews, with
// their data pointers and sizes in bytes. Caller code can run during a call (a fill
// value's __float__, a finaliser run by the garbage collector while the result is
// allocated), and `resize(..., refcheck=False)` on any of those arrays frees the memory
// the input points into. Resizing is the only way to free an array's memory while it
// lives, and it changes that array's data pointer or size in bytes; a new dtype or shape
// over the same bytes changes neither and leaves every read safe.
class watched_memory {
public:
    watched_memory(py::handle first, py::handle second) : roots_{first, second}, numpy_(numpy()) {
        walk([this](const array_extent& array) {
            if (count_ < inline_.size()) {
                inline_[count_] = array;
            } else {
                overflow_.push_back(array);
            }
            ++count_;
        });
    }

    // Caller code may have run since the arrays were last found unchanged.
    void caller_code_may_have_run() { checked_ = false; }

    // Throws arrays_changed_message unless every array still has its data and size; walks
    // the arrays only if caller code may have run since they were last found unchanged.
    void ensure_unchanged() {
        if (checked_) {
            return;
        }
        std::size_t seen = 0;
        bool same = true;
        walk([&](const array_extent& array) {
            same = same && seen < count_ && recorded(seen) == array;
            ++seen;
        });
        if (!same || seen != count_) {
            throw std::runtime_error(arrays_changed_message);
        }
        checked_ = true;
    }

private:
    template <class Visit>
    void walk(Visit visit) const {
        for (py::handle root : roots_) {
            for (py::handle object = root; object;) {
                if (numpy_.PyArray_Check_(object.ptr())) {
                    visit(extent_of(object.ptr()));
                    object = array_base(object);
                } else if (PyMemoryView_Check(object.ptr()) != 0) {
                    object = PyMemoryView_GET_BUFFER(object.ptr())->obj;
                } else {
                    break;  // other exporters refuse to free memory they lend out
                }
            }
        }
    }

    const array_extent& recorded(std::size_t index) const {
        return index < inline_.size() ? inline_[index] : overflow_[index - inline_.size()];
    }

    std::array<py::handle, 2> roots_;
    const numpy_api& numpy_;
    // Chains are short (an array, its base, a subclass the caster viewed): no allocation
    // unless one is longer.
    std::array<array_extent, 8> inline_{};
    std::vector<array_extent> overflow_;
    std::size_t count_ = 0;
    bool checked_ = true;
};

// A fill value whose conversion runs no code of the caller's: an exact float, int or
// complex (an int subclass may define __float__, a float subclass __complex__).
inline bool converts_without_caller_code(const py::object& fill) {
    PyObject* object = fill.ptr();
    return PyFloat_CheckExact(object) || PyLong_CheckExact(object) || PyComplex_CheckExact(object);
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
    // Each size and data pointer is read once: the result is sized from the same read as
    // the loop's bounds, and the memory watch below is what vouches for the pointers.
    const void* const signal_data = signal.data();
    const void* const x_data = x.data();
    watched_memory inputs(signal, x);
    array<T> result = new_vector<T>(static_cast<py::ssize_t>(m));
    // A finaliser that the garbage collector calls during the allocation is caller code.
    inputs.caller_code_may_have_run();

    // Left, then right: a default is the sample as it is when its turn comes, before the
    // other fill's conversion runs. No sample is read unless the arrays are unchanged.
    const packed_elements<T> samples(signal_data);
    const auto resolve = [&](const py::object& fill, std::uint64_t default_index) {
        if (fill.is_none()) {
            inputs.ensure_unchanged();
            return samples[default_index];
        }
        if (!converts_without_caller_code(fill)) {
            inputs.caller_code_may_have_run();
        }
        return convert_fill<T>(fill);
    };
    const T left_fill = resolve(left, 0);
    const T right_fill = resolve(right, n - 1);
    inputs.ensure_unchanged();
    loop(signal_data, n, x_data, m, left_fill, right_fill, result.mutable_data());
    return result;
}

// Runs the frame of the row function, then `blend(signal, rows, cols, x, result)`, which
// must write every result[0..cols-1]. The signal may sit at any alignment. Sizes and the
// data pointer are read once, and watched across the allocation as in run_1d_frame.
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
    const void* const signal_data = signal.data();
    watched_memory inputs(signal, py::handle());
    array<T> result = new_vector<T>(static_cast<py::ssize_t>(cols));
    // A finaliser that the garbage collector calls during the allocation is caller code.
    inputs.caller_code_may_have_run();
    inputs.ensure_unchanged();
    blend(signal_data, rows, cols, x, result.mutable_data());
    return result;
}

}  // namespace velquin
