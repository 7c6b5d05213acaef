// The vector layer: what the vectorised kernels are written with, on every instruction set.
//
// Generic code over the lane types of lanes.hpp and the few primitives of one instruction
// set, the struct `simd` that level.cpp names (src/simd/): the vector width, the all-lanes
// test, windows (plane loads, complex splits and per-lane picks), each lane's consecutive
// samples (rows of 8-byte components, and float32 components by the level's means),
// prefetching, complex interleaving and the index conversion. The kernels (linear, cubic,
// the row blend) use only this layer.
#pragma once

#include "kernels/lanes.hpp"

namespace velquin::VELQUIN_LEVEL {

// Positions per block: as many as fit one machine vector in both the component type R and
// the position type X (a complex element takes one vector per component).
template <class R, class X>
inline constexpr int lanes_of =
    simd::vector_bytes / static_cast<int>(sizeof(R) > sizeof(X) ? sizeof(R) : sizeof(X));

template <class M>
inline bool all_lanes(const M& lanes) {
    return simd::all_lanes(lanes);
}

// Each lane times a real weight; for complex elements the full product with (k, 0), with
// the products by zero kept, exactly as the scalar code writes it.
template <class R, int C, int Lanes>
inline elements<R, C, Lanes> times_real(const elements<R, C, Lanes>& value,
                                        const vec<R, Lanes>& k) {
    elements<R, C, Lanes> product;
    if constexpr (C == 1) {
        product.part[0] = value.part[0] * k;
    } else {
        const vec<R, Lanes> zero{};
        product.part[0] = (value.part[0] * k) - (value.part[1] * zero);
        product.part[1] = (value.part[0] * zero) + (value.part[1] * k);
    }
    return product;
}

template <class R, int C, int Lanes>
inline elements<R, C, Lanes> times_real(const elements<R, C, Lanes>& value, R k) {
    return times_real(value, broadcast<vec<R, Lanes>>(k));
}

// Every lane holds the element at `element` (C components, any alignment).
template <class R, int C, int Lanes>
inline elements<R, C, Lanes> broadcast_element(const void* element) {
    R components[C];
    std::memcpy(components, element, sizeof components);
    elements<R, C, Lanes> all;
    for (int c = 0; c < C; ++c) {
        all.part[c] = broadcast<vec<R, Lanes>>(components[c]);
    }
    return all;
}

// Windows. A block of sorted or clustered positions needs samples from a short stretch of
// the signal: the stretch, 2 * Lanes elements, is loaded as whole vectors into one pair of
// planes per component (complex samples split as they are loaded), and every lane picks
// its samples from the planes, instead of loading each lane's samples on its own.
template <class R, int C, int Lanes>
class element_window {
public:
    using plane = vec<R, Lanes>;
    static constexpr int size = 2 * Lanes;  // elements

    // The `size` elements from `first` on (any alignment); lane l of a pick takes element
    // offset[l] + j of them.
    element_window(const unsigned char* first, const vec<std::int32_t, Lanes>& offset)
        : index_(simd::window_index_of<R, Lanes>(offset)) {
        constexpr std::size_t half = sizeof(plane) * C;
        if constexpr (C == 1) {
            low_[0] = load<plane>(first);
            high_[0] = load<plane>(first + half);
        } else {
            simd::load_complex<R, Lanes>(first, low_[0], low_[1]);
            simd::load_complex<R, Lanes>(first + half, high_[0], high_[1]);
        }
    }

    elements<R, C, Lanes> pick(int j) const {
        elements<R, C, Lanes> picked;
        for (int c = 0; c < C; ++c) {
            picked.part[c] = simd::pick_plane<R, Lanes>(low_[c], high_[c], index_, j);
        }
        return picked;
    }

private:
    typename simd::window_index<R, Lanes> index_;
    plane low_[C];   // component c of elements 0 .. Lanes - 1
    plane high_[C];  // component c of elements Lanes .. 2 * Lanes - 1
};

// Each lane's Count consecutive elements from start[l] on (start[l] + Count <= n): element
// start[l] + j goes to lane l of *at[j]. 8-byte components as rows (each lane's run loaded
// whole and transposed), float32 components by the level's means.
template <class R, int C, int Lanes, int Count>
inline void load_runs(const unsigned char* signal, const vec<std::int32_t, Lanes>& start,
                      elements<R, C, Lanes>* const (&at)[Count]) {
    if constexpr (sizeof(R) == 8) {
        simd::load_rows<R, C, Lanes, Count>(signal, start, at);
    } else {
        simd::load_float_runs<R, C, Lanes, Count>(signal, start, at);
    }
}

// The samples from start[l] on of every lane, one element per output: lane l of the j-th
// output takes the element at start[l] + j (below n). From a window where the level has
// windows for the block's type and the block's samples fit one (sorted or clustered
// positions); otherwise as each lane's run, by the level's means. (Separate outputs rather
// than one returned array, which GCC would keep in memory instead of registers.)
template <class R, int C, int Lanes, class... Neighbours>
inline void load_neighbours(const unsigned char* signal, std::uint64_t n,
                            const vec<std::int32_t, Lanes>& start, Neighbours&... neighbour) {
    constexpr int count = sizeof...(Neighbours);
    elements<R, C, Lanes>* const at[count] = {&neighbour...};
    if constexpr (simd::window_available<R, Lanes>) {
        using window = element_window<R, C, Lanes>;
        const auto first = static_cast<std::uint64_t>(start[0]);
        const vec<std::int32_t, Lanes> offset = start - start[0];
        // One unsigned comparison: a negative offset is a huge one.
        constexpr auto last_offset = static_cast<std::uint32_t>(window::size - count);
        if (first + window::size <= n &&
            all_lanes(bit_cast<vec<std::uint32_t, Lanes>>(offset) <= last_offset)) {
            const window samples(signal + (first * C * sizeof(R)), offset);
            for (int j = 0; j < count; ++j) {
                *at[j] = samples.pick(j);
            }
            return;
        }
    }
    load_runs<R, C, Lanes, count>(signal, start, at);
}

// `chosen` where the lanes of `where` are set, else `otherwise`.
template <class R, int C, int Lanes>
inline elements<R, C, Lanes> select(const mask<R, Lanes>& where,
                                    const elements<R, C, Lanes>& chosen,
                                    const elements<R, C, Lanes>& otherwise) {
    elements<R, C, Lanes> result;
    for (int c = 0; c < C; ++c) {
        result.part[c] = where ? chosen.part[c] : otherwise.part[c];
    }
    return result;
}

// Every NaN lane replaced by the quiet NaN of R (positive, zero payload), as the scalar
// canonical_nan does.
template <class R, int Lanes>
inline vec<R, Lanes> canonical_nan_lanes(const vec<R, Lanes>& value) {
    return value != value ? broadcast<vec<R, Lanes>, R>(__builtin_nan("")) : value;
}

// The same for every component of a block's elements.
template <class R, int C, int Lanes>
inline elements<R, C, Lanes> canonical_nan(const elements<R, C, Lanes>& value) {
    elements<R, C, Lanes> result;
    for (int c = 0; c < C; ++c) {
        result.part[c] = canonical_nan_lanes<R, Lanes>(value.part[c]);
    }
    return result;
}

// `even` in the lanes 0, 2, 4, ... (real components), `odd` in the others.
template <class V>
inline V select_even(const V& even, const V& odd) {
    using lane_mask = decltype(even < odd);
    lane_mask is_even{};
    for (unsigned lane = 0; lane < sizeof(V) / sizeof(even[0]); lane += 2) {
        is_even[lane] = -1;
    }
    return is_even ? even : odd;
}

// Stores the first `count` lanes as densely packed elements.
template <class R, int C, int Lanes>
inline void store_elements(R* result, const elements<R, C, Lanes>& value, int count) {
    if (count == Lanes) {
        if constexpr (C == 1) {
            store(result, value.part[0]);
        } else {
            simd::store_complex<R, Lanes>(result, value.part[0], value.part[1]);
        }
        return;
    }
    R packed[Lanes * C];
    for (int lane = 0; lane < Lanes; ++lane) {
        for (int c = 0; c < C; ++c) {
            packed[(lane * C) + c] = value.part[c][lane];
        }
    }
    std::memcpy(result, packed, sizeof(R) * C * static_cast<unsigned>(count));
}

// Positions in [0, 2^31) split into their integer part, a 32-bit index, and their fraction
// in R: index = trunc(p), weight = R(p - X(index)) (the subtraction is exact).
template <class R, class X, int Lanes>
struct split_positions {
    vec<std::int32_t, Lanes> index;
    vec<R, Lanes> weight;

    explicit split_positions(const vec<X, Lanes>& p)
        : index(__builtin_convertvector(p, vec<std::int32_t, Lanes>)),
          weight(__builtin_convertvector(p - simd::indices_as<X, Lanes>(index), vec<R, Lanes>)) {}
};

// A block of positions prepared for interpolation. Lanes with 0 <= p < bound are inside;
// the others take position 0, so that the truncation to 32-bit indices is always defined
// and every load they make stays in the signal. NaN lanes are never inside.
template <class R, class X, int Lanes>
struct split_block : split_positions<R, X, Lanes> {
    using positions = vec<X, Lanes>;

    mask<X, Lanes> inside;
    positions safe;  // p where inside, else 0

    split_block(const positions& p, X bound) : split_block(p, (p >= X(0)) & (p < bound)) {}

private:
    split_block(const positions& p, const mask<X, Lanes>& inside_lanes)
        : split_positions<R, X, Lanes>(inside_lanes ? p : positions{}),
          inside(inside_lanes),
          safe(inside_lanes ? p : positions{}) {}
};

// What lanes outside the interpolation range take, in every lane: the fill values and NaN.
template <class R, int C, int Lanes>
struct outside_values {
    elements<R, C, Lanes> left;
    elements<R, C, Lanes> right;
    elements<R, C, Lanes> nan;

    outside_values(const R* left_fill, const R* right_fill)
        : left(broadcast_element<R, C, Lanes>(left_fill)),
          right(broadcast_element<R, C, Lanes>(right_fill)),
          nan(broadcast_element<R, C, Lanes>(nan_components)) {}

    // Lanes inside keep `out`; the others take, in the order of the rules, the left fill
    // where p < 0, the right fill where p >= bound, and NaN otherwise.
    template <class X>
    elements<R, C, Lanes> apply(elements<R, C, Lanes> out, const vec<X, Lanes>& p,
                                const mask<X, Lanes>& inside, X bound) const {
        out = select(convert_mask<R, Lanes>(inside), out, nan);
        out = select(convert_mask<R, Lanes>(p >= bound), right, out);
        return select(convert_mask<R, Lanes>(p < X(0)), left, out);
    }

private:
    static constexpr R nan_components[2] = {__builtin_nan(""), __builtin_nan("")};
};

// True when a block's last position lies at most `span` after its first: sorted or
// clustered positions, whose samples the hardware prefetcher brings in by itself (false
// for NaN). One comparison, |width - span/2| <= span/2: testing width >= 0 on its own is a
// branch that positions in no particular order mispredict half of the time.
template <class X>
inline bool clustered(X first, X last, double span) {
    const double width = static_cast<double>(last) - static_cast<double>(first);
    const double half = span / 2;
    return __builtin_fabs(width - half) <= half;
}

// Asks for the element at index[l] + offset of every lane to be brought into the cache: a
// hint that reads nothing.
template <class R, int C, int Lanes>
inline void prefetch_elements(const unsigned char* signal, const vec<std::int32_t, Lanes>& index,
                              int offset) {
    for (int lane = 0; lane < Lanes; ++lane) {
        simd::prefetch(signal + ((static_cast<std::int64_t>(index[lane]) + offset) *
                                 static_cast<std::int64_t>(C * sizeof(R))));
    }
}

// The block this many positions ahead of the one being computed has its samples prefetched,
// so that for positions in no particular order the memory latency of later blocks overlaps
// with the arithmetic of this one: neither gathers nor the hardware prefetcher reach that
// far ahead.
inline constexpr std::uint64_t prefetch_positions = 32;

// Only signals larger than this are prefetched: smaller ones stay in a core's L2 cache on
// most CPUs, where the hints cost more than they save.
inline constexpr std::uint64_t prefetch_min_bytes = std::uint64_t{1} << 20U;

// What is read or written in order, the positions, the result and, under clustered
// positions, the signal, is prefetched this many elements ahead: the hardware prefetcher
// alone leaves the cubic kernel waiting on memory for long sorted inputs.
inline constexpr std::uint64_t stream_ahead = 256;

// Asks for the cache lines of the Bytes from `address` on to be brought in.
template <std::size_t Bytes>
inline void prefetch_lines(const unsigned char* address) {
    constexpr std::size_t line = 64;
    for (std::size_t offset = 0; offset < Bytes; offset += line) {
        simd::prefetch(address + offset);
    }
}

// Runs `interpolate` over the positions in blocks of Lanes and stores each block's
// elements into `result`, prefetching the positions and the result stream_ahead positions
// ahead. On a signal of more than prefetch_min_bytes, a clustered block prefetches the
// signal stream_ahead samples beyond its first position, any other calls `prefetch` with
// the block prefetch_positions ahead. The last, partial block is padded with position 0
// and stores only its own lanes. (No state is written between the blocks but the results:
// the kernels' lambdas then keep their captured constants in registers.)
template <class R, int C, class X, int Lanes, class Interpolate, class Prefetch>
void run_blocks(const unsigned char* signal, std::uint64_t n, const unsigned char* x,
                std::uint64_t m, R* result, Interpolate interpolate, Prefetch prefetch) {
    using positions = vec<X, Lanes>;
    constexpr std::size_t element_bytes = C * sizeof(R);
    constexpr std::uint64_t ahead = (prefetch_positions + Lanes - 1) / Lanes * Lanes;
    const bool large_signal = n * element_bytes > prefetch_min_bytes;
    // The signal is prefetched for blocks whose first position lies below this.
    const double streamed_below =
        n > stream_ahead + Lanes ? static_cast<double>(n - stream_ahead - Lanes) : 0.0;
    std::uint64_t i = 0;
    for (; i + Lanes <= m; i += Lanes) {
        const unsigned char* block = x + (i * sizeof(X));
        if (i + stream_ahead + Lanes <= m) {
            prefetch_lines<Lanes * sizeof(X)>(x + ((i + stream_ahead) * sizeof(X)));
            prefetch_lines<Lanes * element_bytes>(
                reinterpret_cast<const unsigned char*>(result + ((i + stream_ahead) * C)));
        }
        if (large_signal) {
            // The block's ends are read from the array, not from its vector: GCC would store
            // the vector and read its lanes back, which stalls on forwarding a 64-byte store.
            X first;
            X last;
            std::memcpy(&first, block, sizeof(X));
            std::memcpy(&last, block + ((Lanes - 1) * sizeof(X)), sizeof(X));
            if (clustered(first, last, 4 * Lanes)) {
                if (first >= X(0) && static_cast<double>(first) < streamed_below) {
                    const auto start = static_cast<std::uint64_t>(first) + stream_ahead;
                    prefetch_lines<Lanes * element_bytes>(signal + (start * element_bytes));
                }
            } else if (i + ahead + Lanes <= m) {
                prefetch(load<positions>(x + ((i + ahead) * sizeof(X))));
            }
        }
        store_elements(result + (i * C), interpolate(load<positions>(block)), Lanes);
    }
    if (i < m) {
        const auto rest = static_cast<int>(m - i);
        X padded[Lanes] = {};
        std::memcpy(padded, x + (i * sizeof(X)), sizeof(X) * static_cast<unsigned>(rest));
        store_elements(result + (i * C), interpolate(load<positions>(padded)), rest);
    }
}

}  // namespace velquin::VELQUIN_LEVEL
