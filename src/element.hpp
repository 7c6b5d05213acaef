// Element types and the arithmetic helpers every kernel shares. Plain C++: no Python here.
#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

// Forced inlining and cache hints, by each compiler's means: GCC and clang (on every
// platform) and MSVC; other compilers get a plain inline function and no hint.
#if defined(__GNUC__) || defined(__clang__)
#define VELQUIN_ALWAYS_INLINE [[gnu::always_inline]] inline
#define VELQUIN_PREFETCH(address) __builtin_prefetch(address)
#elif defined(_MSC_VER)
#include <intrin.h>
#define VELQUIN_ALWAYS_INLINE __forceinline
#if defined(_M_X64) || defined(_M_IX86)
#define VELQUIN_PREFETCH(address) _mm_prefetch(reinterpret_cast<const char*>(address), _MM_HINT_T0)
#else
#define VELQUIN_PREFETCH(address) static_cast<void>(address)
#endif
#else
#define VELQUIN_ALWAYS_INLINE inline
#define VELQUIN_PREFETCH(address) static_cast<void>(address)
#endif

namespace velquin {

using complex64 = std::complex<float>;
using complex128 = std::complex<double>;

// Read access to densely packed elements at any address. NumPy arrays need not be aligned
// (np.frombuffer at an odd offset, for one), and reading a misaligned T through a T* is
// undefined; a fixed-size memcpy compiles to the same single load.
template <class T>
class packed_elements {
public:
    explicit packed_elements(const void* data) : bytes_(static_cast<const std::byte*>(data)) {}

    template <class Index>
    T operator[](Index index) const {
        T value;
        std::memcpy(&value, bytes_ + (static_cast<std::size_t>(index) * sizeof(T)), sizeof(T));
        return value;
    }

    // Asks for the element at `index` to be brought into the cache: a hint that reads
    // nothing, so any index, even one outside the array, is harmless.
    template <class Index>
    void prefetch(Index index) const {
        VELQUIN_PREFETCH(bytes_ + (static_cast<std::size_t>(index) * sizeof(T)));
    }

private:
    const std::byte* bytes_;
};

// Component type of an element type: float for float and complex64, double otherwise.
template <class T>
struct real_of {
    using type = T;
};
template <class R>
struct real_of<std::complex<R>> {
    using type = R;
};
template <class T>
using real_t = typename real_of<T>::type;

// Element times a real weight. For a complex element this is the full product with
// (k, 0), written out because std::complex's operator* recovers infinities (C99 Annex G):
// the products with zero are kept, so an infinite or NaN component makes the other
// component NaN.
//
// Always inlined, as every helper that takes or returns a complex element: a call would
// pass a complex64 packed in one register and split it through memory, and a load of the
// upper half of a wider store waits for the store on many CPUs.
template <class R>
VELQUIN_ALWAYS_INLINE R times_real(R value, R k) {
    return value * k;
}
template <class R>
VELQUIN_ALWAYS_INLINE std::complex<R> times_real(std::complex<R> value, R k) {
    const R zero = 0;
    return {(value.real() * k) - (value.imag() * zero), (value.real() * zero) + (value.imag() * k)};
}

// A computed value with every NaN component replaced by the quiet NaN of R (positive, zero
// payload). Which NaN an operation returns depends on the order of its operands, which
// compilers and instruction sets choose freely; written this way, NaN results have the
// same bits on every build. Fill values and copied rows are never passed through here.
template <class R>
VELQUIN_ALWAYS_INLINE R canonical_nan(R value) {
    return value != value ? std::numeric_limits<R>::quiet_NaN() : value;
}
template <class R>
VELQUIN_ALWAYS_INLINE std::complex<R> canonical_nan(std::complex<R> value) {
    return {canonical_nan(value.real()), canonical_nan(value.imag())};
}

// Positions this far ahead of the one being computed have their samples prefetched: for
// positions in no particular order, the memory latency of later positions then overlaps
// with the arithmetic of this one; for sorted ones the hardware prefetcher already does
// it, and the hint costs a few instructions.
inline constexpr std::uint64_t prefetch_distance = 16;

// Quiet NaN of an element type, in every component.
template <class T>
inline T quiet_nan() {
    const real_t<T> nan = std::numeric_limits<real_t<T>>::quiet_NaN();
    if constexpr (std::is_same_v<T, real_t<T>>) {
        return nan;
    } else {
        return {nan, nan};
    }
}

}  // namespace velquin
