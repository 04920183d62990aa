// A second pybind11 module, with a class that pickles through pybind11's own
// support, for the tests that it behaves the same with trendfit loaded.

#include <pybind11/pybind11.h>

namespace py = pybind11;

struct Thing {
    int value;
};

PYBIND11_MODULE(other, m) {
    py::class_<Thing>(m, "Thing")
        .def(py::init<int>())
        .def_readonly("value", &Thing::value)
        .def(py::pickle([](const Thing& thing) { return py::make_tuple(thing.value); },
                        [](const py::tuple& state) { return Thing{state[0].cast<int>()}; }));
}
