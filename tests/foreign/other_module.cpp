// A pybind11 module of someone else's, for the test that every module keeps its messages
// whatever was imported before it (tests/test_module.py); `make wheels` builds it with the
// wheels' compiler, which links a copy of the C++ runtime into each module. Built with
// -DSHARE_VELQUIN_KEY, it stands for another copy of velquin_interp: the same key for the
// state pybind11 modules share, and the same translator of its own.
#ifdef SHARE_VELQUIN_KEY
#define PYBIND11_STDLIB "_velquin_interp"
#endif

#include <pybind11/pybind11.h>

#include <stdexcept>

PYBIND11_MODULE(OTHER_MODULE, m) {
#ifdef SHARE_VELQUIN_KEY
    pybind11::register_local_exception_translator(&pybind11::detail::translate_exception);
#endif
    m.def("fail", [] { throw std::runtime_error("the other module's message"); });
}
