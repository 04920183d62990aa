// The Python module `trendfit`: registers LinearRegression and converts
// arguments, results and errors between Python and the model.
//
// pybind11 internals the bindings rely on. They are why pybind11 is pinned to
// one exact release (CMakeLists.txt): an upgrade is the change most likely to
// break them, and these tests are the ones that say so.
// - The `self` caster (type_caster<ConstructedModel>: get_type_info,
//   instance::get_value_and_holder): rejects None, impostors and instances
//   whose __init__ never ran. Guarded by the wrong-`self` and impostor tests.
// - value_and_holder and initimpl::construct, with is_new_style_constructor:
//   __init__ keeps the first model when called again or re-entered while its
//   arguments convert, and pybind11 still checks that an overriding __init__
//   called it. Guarded by the re-__init__, re-entry and subclass tests.
// - PYBIND11_MODULE_PYINIT / PYBIND11_MODULE_EXEC and the interpreter counter:
//   the module refuses subinterpreters before pybind11 touches its state.
// - internals.default_metaclass, internals.instance_base, all_type_info and
//   translate_exception: the guard that turns protocol 0/1 pickling's abort
//   into TypeError. Both guarded by the pickling and subinterpreter test.
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
#include <string>
#include <system_error>
#include <type_traits>
#include <utility>

#include "bindings/arguments.hpp"
#include "model/linear_regression.hpp"
#include "model/standard_output.hpp"

namespace py = pybind11;
using trendfit::DoubleArrayView;
using trendfit::LinearRegression;
using trendfit::bindings::ArrayArgument;
using trendfit::bindings::Number;
using trendfit::bindings::PredictArgument;

namespace {

// The model of a fully constructed instance, as the `self` of a method.
struct ConstructedModel {
    const LinearRegression* model = nullptr;
};

}  // namespace

namespace pybind11::detail {

// Loads `self` for the methods. pybind11's own caster would hand over a null
// pointer for None and freshly allocated, uninitialised storage for an
// instance whose __init__ never ran; this one rejects both. It shows in
// signatures as the class itself.
template <>
class type_caster<ConstructedModel> {
public:
    PYBIND11_TYPE_CASTER(ConstructedModel, const_name<LinearRegression>());

    bool load(handle src, bool /*convert*/) {
        const type_info* info = get_type_info(typeid(LinearRegression));
        // The real type, not isinstance(): an object whose __class__ claims the
        // class (a mock modelled on it) passes isinstance() but has no model.
        if (info == nullptr || !PyObject_TypeCheck(src.ptr(), info->type))
            return false;  // None or a foreign object: the usual incompatible-arguments error
        const value_and_holder v_h = reinterpret_cast<instance*>(src.ptr())->get_value_and_holder(info);
        if (!v_h.holder_constructed())
            throw type_error("this LinearRegression was never initialised: create it as LinearRegression(x, y)");
        value.model = v_h.value_ptr<LinearRegression>();
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

std::unique_ptr<LinearRegression> construct(const py::array_t<double>& x, const py::array_t<double>& y) {
    // Both views are held until the samples have been copied.
    const py::buffer_info x_buffer = x.request();
    const py::buffer_info y_buffer = y.request();
    return std::make_unique<LinearRegression>(view_of(x_buffer), view_of(y_buffer));
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
void def_method(py::class_<LinearRegression>& cls, const char* name, Result (LinearRegression::*member)(Args...) const) {
    cls.def(name, [member](ConstructedModel self, Args... args) -> Result {
        return (self.model->*member)(std::forward<Args>(args)...);
    });
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

// Flushes sys.stdout (when set and flushable), as print would, so that what
// Python printed before the report comes before it. Its exception (a closed
// stream's ValueError, say) propagates.
void flush_python_stdout() {
    PyObject* const stream = PySys_GetObject("stdout");  // borrowed
    if (stream == nullptr || stream == Py_None) return;
    // One lookup: the bound method holds the stream, which flush() may replace as sys.stdout.
    const py::object flush = py::reinterpret_steal<py::object>(PyObject_GetAttrString(stream, "flush"));
    if (!flush) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw py::error_already_set();
        PyErr_Clear();  // a stream without flush() holds nothing back
        return;
    }
    flush();
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
        throw;  // the thread is being ended (while taking the lock for a signal handler)
#endif
    } catch (...) {
        failure = std::current_exception();
    }
    PyEval_RestoreThread(thread);
    if (failure) raise_in_python(failure);
}

// Python's pickling at protocols 0 and 1 (copyreg._reduce_ex, which __reduce__()
// and __reduce_ex__(p) for p < 2 reach as well) copies an object's state by
// calling the nearest base class that has a __new__ of its own with the object
// as argument; for every pybind11 class that is pybind11's bare common base. That
// type has no C++ type behind it, so pybind11's allocator throws a C++ exception
// through the interpreter's C frames, which aborts the process. The metaclass's
// call slot is guarded so that such a call raises TypeError before the allocator
// runs. The metaclass is shared by every pybind11 module of the same ABI, so the
// guard lets every other call through untouched.
ternaryfunc unguarded_class_call = nullptr;
newfunc pybind11_instance_new = nullptr;

// Whether calling `type` would reach pybind11's allocator with nothing to allocate.
bool allocation_would_abort(PyTypeObject* type) {
    return type->tp_new == pybind11_instance_new && py::detail::all_type_info(type).empty();
}

// copyreg's state copy `base(obj)` gets the answer that object.__reduce_ex__
// gives at protocol 2 and above; any other call says what is wrong.
PyObject* refuse_allocation_without_cpp_type(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    const bool no_keywords = kwargs == nullptr || PyDict_GET_SIZE(kwargs) == 0;
    if (no_keywords && PyTuple_GET_SIZE(args) == 1 && PyObject_TypeCheck(PyTuple_GET_ITEM(args, 0), type)) {
        PyErr_Format(PyExc_TypeError, "cannot pickle '%.200s' object", Py_TYPE(PyTuple_GET_ITEM(args, 0))->tp_name);
    } else {
        PyErr_Format(PyExc_TypeError, "cannot create '%.200s' instances: no pybind11-registered base type",
                     type->tp_name);
    }
    return nullptr;
}

extern "C" PyObject* guarded_class_call(PyObject* type, PyObject* args, PyObject* kwargs) {
    try {
        if (allocation_would_abort(reinterpret_cast<PyTypeObject*>(type)))
            return refuse_allocation_without_cpp_type(reinterpret_cast<PyTypeObject*>(type), args, kwargs);
    } catch (...) {
        py::detail::translate_exception(std::current_exception());
        return nullptr;
    }
    return unguarded_class_call(type, args, kwargs);
}

// Installed once per process: a module body that runs again (the same file
// loaded a second time as `package.trendfit`) must not wrap the guard in itself.
void guard_calls_of_classes_without_cpp_type() {
    const py::detail::internals& internals = py::detail::get_internals();
    PyTypeObject* metaclass = internals.default_metaclass;
    if (metaclass->tp_call == &guarded_class_call) return;
    pybind11_instance_new = reinterpret_cast<PyTypeObject*>(internals.instance_base)->tp_new;
    unguarded_class_call = metaclass->tp_call;
    metaclass->tp_call = &guarded_class_call;
}

// pybind11 keeps its shared state in one process-wide slot on CPython 3.11 and
// takes the interpreter lock through PyGILState_Ensure, which there knows only
// the main interpreter: in a subinterpreter it would wait forever for the lock
// its own thread holds. So the module refuses to load anywhere else, before
// pybind11 touches its state.
bool in_main_interpreter() { return PyInterpreterState_Get() == PyInterpreterState_Main(); }

PyObject* refuse_subinterpreter() {
    PyErr_SetString(PyExc_ImportError,
                    "trendfit cannot be imported in a subinterpreter; import it in the main interpreter");
    return nullptr;
}

}  // namespace

// PYBIND11_MODULE, with the main-interpreter check placed between pybind11's
// interpreter-version check and its first use of its shared state.
PYBIND11_MODULE_PYINIT(trendfit,
                       if (!in_main_interpreter()) return refuse_subinterpreter();
                       py::detail::get_num_interpreters_seen() += 1)
PYBIND11_MODULE_EXEC(trendfit, m) {
    m.doc() = "Linear Regression with NumPy support";
    guard_calls_of_classes_without_cpp_type();

    py::class_<LinearRegression> cls(m, "LinearRegression");
    cls.def("__init__", &initialise, py::detail::is_new_style_constructor());
    def_method(cls, "mean_x", &LinearRegression::mean_x);
    def_method(cls, "mean_y", &LinearRegression::mean_y);
    def_method(cls, "pearson_correlation", &LinearRegression::pearson_correlation);
    def_method(cls, "std_x", &LinearRegression::std_x);
    def_method(cls, "std_y", &LinearRegression::std_y);
    def_method(cls, "slope", &LinearRegression::slope);
    def_method(cls, "intercept", &LinearRegression::intercept);
    cls.def("predict_single", &predict_single);
    cls.def("predict", &predict);
    def_method(cls, "rmse", &LinearRegression::rmse);
    def_method(cls, "mae", &LinearRegression::mae);
    def_method(cls, "r_squared", &LinearRegression::r_squared);
    def_method(cls, "residual_std_error", &LinearRegression::residual_std_error);
    def_method(cls, "slope_standard_error", &LinearRegression::slope_standard_error);
    def_method(cls, "t_value_slope", &LinearRegression::t_value_slope);
    cls.def("summary", &summary);
}
