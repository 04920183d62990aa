// The Python module `trendfit`: registers LinearRegression and converts
// arguments, results and errors between Python and the model.
//
// pybind11 internals the bindings rely on. They are why pybind11 is pinned to
// one exact release (CMakeLists.txt; CI also builds against the next one): an
// upgrade is the change most likely to break them, and these tests are the
// ones that say so. The module body uses pybind11's public module macro alone.
// - PYBIND11_CHECK_PYTHON_VERSION, the version check of that macro, run first
//   in the entry point. Guarded by the version-refusal test.
// - The `self` casters (type_caster<ConstructedModel> and <Instance>:
//   get_type_info, instance::get_value_and_holder): reject None and impostors,
//   and for the model's methods instances whose __init__ never ran. Guarded by
//   the wrong-`self` and impostor tests.
// - value_and_holder and initimpl::construct, with is_new_style_constructor:
//   __init__ keeps the first model when called again or re-entered while its
//   arguments convert, and pybind11 still checks that an overriding __init__
//   called it. Guarded by the re-__init__, re-entry and subclass tests.
// - In bindings/arguments.hpp: the stock casters' names (signatures), the
//   float and sequence conversion rules they repeat, array_t's raw_array_t,
//   object_is_convertible_to_std_vector, and the dispatcher's handling of
//   reference_cast_error as "incompatible arguments". Guarded by the
//   signature, conversion, interrupt and fast/general agreement tests.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#if defined(__GLIBCXX__)
#include <cxxabi.h>
#endif

#include <exception>
#include <memory>
#include <new>
#include <string>
#include <system_error>
#include <type_traits>
#include <utility>

#include "bindings/arguments.hpp"
#include "model/linear_regression.hpp"
#include "model/standard_output.hpp"
#include "model/statistics.hpp"

namespace py = pybind11;
using trendfit::DoubleArrayView;
using trendfit::LinearRegression;
using trendfit::Subject;
using trendfit::bindings::ArrayArgument;
using trendfit::bindings::Number;
using trendfit::bindings::PredictArgument;

namespace {

// The model of a fully constructed instance, as the `self` of a method.
struct ConstructedModel {
    const LinearRegression* model = nullptr;
};

// An instance of the class, whether or not its __init__ ran, as the `self` of a method.
struct Instance {
    py::handle object;
};

}  // namespace

namespace pybind11::detail {

// The class's type information if `src` is an instance of it or of a subclass.
// The real type, not isinstance(): an object whose __class__ claims the class
// (a mock modelled on it) passes isinstance() but has no model.
inline const type_info* linear_regression_type_of(handle src) {
    const type_info* info = get_type_info(typeid(LinearRegression));
    return info != nullptr && PyObject_TypeCheck(src.ptr(), info->type) ? info : nullptr;
}

// Loads `self` for the methods. pybind11's own caster would hand over a null
// pointer for None and freshly allocated, uninitialised storage for an
// instance whose __init__ never ran; this one rejects both. It shows in
// signatures as the class itself.
template <>
class type_caster<ConstructedModel> {
public:
    PYBIND11_TYPE_CASTER(ConstructedModel, const_name<LinearRegression>());

    bool load(handle src, bool /*convert*/) {
        const type_info* info = linear_regression_type_of(src);
        if (info == nullptr) return false;  // None or a foreign object: the usual incompatible-arguments error
        const value_and_holder v_h = reinterpret_cast<instance*>(src.ptr())->get_value_and_holder(info);
        if (!v_h.holder_constructed())
            throw type_error("this LinearRegression was never initialised: create it as LinearRegression(x, y)");
        value.model = v_h.value_ptr<LinearRegression>();
        return true;
    }
};

// Loads `self` for the methods that need only the Python object: any instance
// of the class or of a subclass, constructed or not.
template <>
class type_caster<Instance> {
public:
    PYBIND11_TYPE_CASTER(Instance, const_name<LinearRegression>());

    bool load(handle src, bool /*convert*/) {
        if (linear_regression_type_of(src) == nullptr) return false;
        value.object = src;
        return true;
    }
};

}  // namespace pybind11::detail

namespace {

static_assert(std::is_same_v<py::ssize_t, std::ptrdiff_t>, "buffer shapes must be usable as ptrdiff_t");

DoubleArrayView view_of(const py::buffer_info& buffer) {
    return DoubleArrayView{buffer.ptr, static_cast<std::size_t>(buffer.ndim), buffer.shape.data(),
                           buffer.strides.data()};
}

// MemoryError naming the constructor and the samples it could not store,
// instead of the allocator's bare message.
[[noreturn]] void refuse_samples_for_memory(py::ssize_t count) {
    PyErr_Format(PyExc_MemoryError, "LinearRegression(): x and y of %zd samples each are more than there is memory for",
                 count);
    throw py::error_already_set();
}

std::unique_ptr<LinearRegression> construct(const py::array_t<double>& x, const py::array_t<double>& y) {
    // Both views are held until the samples have been copied.
    const py::buffer_info x_buffer = x.request();
    const py::buffer_info y_buffer = y.request();
    try {
        return std::make_unique<LinearRegression>(view_of(x_buffer), view_of(y_buffer));
    } catch (const std::bad_alloc&) {
        refuse_samples_for_memory(x_buffer.size);  // the model compares the counts before it allocates
    }
}

// __init__. Converting the arguments can run Python code (an element's
// __float__, or another thread meanwhile) that initialises this same instance
// first; the model built here is then dropped, as for any second __init__,
// instead of overwriting the holder, which would leak the first model and
// leave the instance registered under a pointer it no longer owns.
void initialise(py::detail::value_and_holder& self, const ArrayArgument& x, const ArrayArgument& y) {
    std::unique_ptr<LinearRegression> model = construct(x.array, y.array);
    if (self.holder_constructed()) return;
    py::detail::initimpl::construct<py::class_<LinearRegression>>(self, std::move(model), false);
}

// Binds a const member function of the model as a method of the same name.
template <typename Result, typename... Args>
void def_method(py::class_<LinearRegression>& cls, const char* name,
                Result (LinearRegression::*member)(Args...) const) {
    cls.def(name, [member](ConstructedModel self, Args... args) -> Result {
        return (self.model->*member)(std::forward<Args>(args)...);
    });
}

// Binds the statistics of one subject, in the table's order.
void def_statistics(py::class_<LinearRegression>& cls, Subject subject) {
    for (const trendfit::Statistic& statistic : trendfit::statistics)
        if (statistic.subject == subject) def_method(cls, statistic.name, statistic.method);
}

double predict_single(ConstructedModel self, Number value) { return self.model->predict_single(value.value); }

trendfit::bindings::Predictions predict(ConstructedModel self, PredictArgument& values) {
    return values.predictions_of(*self.model);
}

// Runs Python's signal handlers, with the interpreter lock, for a write that a
// signal interrupted; an exception a handler raises ends the report with it.
void run_signal_handlers() {
    const py::gil_scoped_acquire hold;
    if (PyErr_CheckSignals() != 0) throw py::error_already_set();
}

// A write failure becomes the OSError subclass that os.write raises for its
// errno; anything else goes on as it is.
[[noreturn]] void raise_in_python(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const std::system_error& error) {
        PyErr_SetObject(PyExc_OSError, py::make_tuple(error.code().value(), error.what()).ptr());
        throw py::error_already_set();
    }
}

// The object sys.`name` holds, or None where it is unset.
py::object sys_stream(const char* name) {
    PyObject* const stream = PySys_GetObject(name);  // borrowed
    return py::reinterpret_borrow<py::object>(stream != nullptr ? stream : Py_None);
}

// Calls stream.flush(), as print would; a stream without one holds nothing back.
void flush_stream(const py::object& stream) {
    const py::object flush = py::reinterpret_steal<py::object>(PyObject_GetAttrString(stream.ptr(), "flush"));
    if (!flush) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw py::error_already_set();
        PyErr_Clear();
        return;
    }
    flush();
}

// Whether a stream says it is closed; one that cannot say is taken as open,
// as CPython takes it when it flushes the standard streams at exit. An
// interrupt or MemoryError while it answers still propagates.
bool stream_is_closed(const py::object& stream) {
    const auto closed = py::reinterpret_steal<py::object>(PyObject_GetAttrString(stream.ptr(), "closed"));
    const int answer = closed ? PyObject_IsTrue(closed.ptr()) : 0;
    if (PyErr_Occurred() != nullptr) trendfit::bindings::drop_conversion_error();
    return answer > 0;
}

// Flushes what Python printed before the report, so that it comes first:
// sys.__stdout__ when sys.stdout is another object (replaced, redirected or
// None) and it is set and open, then sys.stdout when set. The original
// stream goes first, since a replacement such as a TextIOWrapper over its
// buffer was set after it was written to. An exception from either flush (a
// closed sys.stdout's ValueError, say) propagates, and nothing is written.
// Each stream is held while it is flushed: flush() may replace it in sys.
void flush_python_stdout() {
    const py::object original = sys_stream("__stdout__");
    if (!original.is_none() && !original.is(sys_stream("stdout")) && !stream_is_closed(original))
        flush_stream(original);
    const py::object current = sys_stream("stdout");
    if (!current.is_none()) flush_stream(current);
}

// Python's output is flushed first, then the report is computed under the
// interpreter lock and written without it: the write can block on a pipe
// that a Python thread drains. The lock is taken back by a plain call, not by
// a destructor: at interpreter exit that call ends a daemon thread by
// unwinding its stack, which must not pass through a destructor.
void summary(ConstructedModel self) {
    flush_python_stdout();
    const std::string report = self.model->report();
    std::exception_ptr failure;
    PyThreadState* const thread = PyEval_SaveThread();
    try {
        trendfit::write_to_standard_output(report, &run_signal_handlers);
#if defined(__GLIBCXX__)
    } catch (abi::__forced_unwind&) {
        throw;  // a thread ended at interpreter exit: see "Locking" in model/standard_output.cpp
#endif
    } catch (...) {
        failure = std::current_exception();
    }
    PyEval_RestoreThread(thread);
    if (failure) raise_in_python(failure);
}

// Pickling and copying, at every protocol, reach one of these two methods
// (pickle and copy call __reduce_ex__, object.__reduce_ex__ calls an overriding
// __reduce__): the samples are not exposed to be saved, so both refuse, naming
// the instance's own type as Python does for objects it cannot pickle.
[[noreturn]] void refuse_pickling(Instance self) {
    PyErr_Format(PyExc_TypeError, "cannot pickle '%.200s' object", Py_TYPE(self.object.ptr())->tp_name);
    throw py::error_already_set();
}

py::object reduce(Instance self) { refuse_pickling(self); }

py::object reduce_ex(Instance self, int /*protocol*/) { refuse_pickling(self); }

// pybind11 takes the interpreter lock through PyGILState_Ensure, which on
// CPython 3.11 knows only the main interpreter (in a subinterpreter it would
// wait forever for the lock its own thread holds), and its shared state is
// not meant to be shared between interpreters. So the module loads in the
// main interpreter alone, refusing subinterpreters itself (CPython refuses
// isolated ones too, by the module's declaration).
//
// For an import in a subinterpreter, CPython 3.13 runs the initialisation
// function in the main interpreter, under a new thread state that it deletes
// afterwards: pybind11, setting up its state there, would keep that thread
// state as the thread's own, and its next use of it crashes. Such a thread
// state runs no Python code, while an import in the main interpreter always
// runs importlib's: so a current Python frame is required as well.
bool importing_in_main_interpreter() {
    if (PyInterpreterState_Get() != PyInterpreterState_Main()) return false;
    PyFrameObject* const frame = PyThreadState_GetFrame(PyThreadState_Get());
    Py_XDECREF(frame);
    return frame != nullptr;
}

constexpr const char* subinterpreter_refusal =
    "trendfit cannot be imported in a subinterpreter; import it in the main interpreter";

int refuse_subinterpreter(PyObject* /*module*/) {
    PyErr_SetString(PyExc_ImportError, subinterpreter_refusal);
    return -1;
}

// The definition handed to a subinterpreter's import instead of pybind11's,
// so that pybind11 is never set up for it: its body refuses in the importing
// interpreter itself (an error raised by the initialisation function, which
// 3.13 runs in the main interpreter, would be that interpreter's object), and
// CPython refuses isolated subinterpreters before it runs.
// Tables, laid out by hand:
// clang-format off
PyModuleDef_Slot refusing_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&refuse_subinterpreter)},
#ifdef Py_mod_multiple_interpreters
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
#endif
    {0, nullptr}};

PyModuleDef refusing_definition = {PyModuleDef_HEAD_INIT, "trendfit", nullptr, 0, nullptr, refusing_slots,
                                   nullptr, nullptr, nullptr};
// clang-format on

}  // namespace

// The module body, which runs in the interpreter that imports: the check of
// the initialisation function below is repeated here, as the place where a
// subinterpreter is seen whatever CPython's version. The inner
// initialisation function that the macro defines is not exported (the linker
// exports PyInit_trendfit alone); it is reached through PyInit_trendfit.
PYBIND11_MODULE(trendfit_definition, m, py::multiple_interpreters::not_supported()) {
    if (!importing_in_main_interpreter()) throw py::import_error(subinterpreter_refusal);
    m.doc() = "Linear Regression with NumPy support";

    py::class_<LinearRegression> cls(m, "LinearRegression");
    cls.def("__init__", &initialise, py::detail::is_new_style_constructor());
    def_statistics(cls, Subject::samples);
    def_statistics(cls, Subject::fitted_line);
    cls.def("predict_single", &predict_single);
    cls.def("predict", &predict);
    def_statistics(cls, Subject::fit_quality);
    cls.def("summary", &summary);
    cls.def("__reduce__", &reduce);
    cls.def("__reduce_ex__", &reduce_ex);
}

// The entry point. The interpreter's version is checked first, before any
// other call into it: a CPython the module was not built for may lack the
// functions called next, and with lazy binding calling one ends the process.
// Then a subinterpreter gets the refusing definition, before pybind11 takes
// the interpreter lock or touches its state; otherwise pybind11's entry point
// returns the module's definition.
PyMODINIT_FUNC PyInit_trendfit() {
    PYBIND11_CHECK_PYTHON_VERSION
    if (!importing_in_main_interpreter()) return PyModuleDef_Init(&refusing_definition);
    return PyInit_trendfit_definition();
}
