// The module: its docstring and every overload, in the order the dispatcher tries them.
// A call that matches no overload exactly goes to the first one whose conversions succeed,
// so this order decides the element type such a call gets.
#include "shortcut.hpp"

using namespace velquin;

// The module runs without the interpreter lock where CPython is built without one: it keeps
// no state that calls change, and each call reads every size of its inputs once.
PYBIND11_MODULE(velquin_interp, m, py::mod_gil_not_used()) {
    translate_exceptions_here();
    m.doc() =
        "Interpolation of uniformly sampled signal.\n"
        "Given a signal sampled at integer indices, interpolates at arbitrary x positions.";

    register_linear_interp<float, double>(m);
    register_linear_interp<double, double>(m);
    register_linear_interp<complex64, double>(m);
    register_linear_interp<complex128, double>(m);
    register_linear_interp<float, float>(m);
    register_linear_interp<double, float>(m);
    register_linear_interp<complex64, float>(m);
    register_linear_interp<complex128, float>(m);

    register_vertical_interp<float>(m);
    register_vertical_interp<double>(m);
    register_vertical_interp<complex64>(m);
    register_vertical_interp<complex128>(m);

    register_cubic_interp<float, double>(m);
    register_cubic_interp<double, double>(m);
    register_cubic_interp<complex64, double>(m);
    register_cubic_interp<complex128, double>(m);
    register_cubic_interp<float, float>(m);
    register_cubic_interp<double, float>(m);
    register_cubic_interp<complex64, float>(m);
    register_cubic_interp<complex128, float>(m);

    // Off only in the build that the shortcut's differential test compares it with.
#ifndef VELQUIN_NO_SHORTCUT
    install_shortcuts(m);
#endif
}
