// Argument types of the methods that take data, and their conversions.
//
// They convert exactly as pybind11's own casters for double, std::vector<double>
// and array_t<double> do, and show in signatures under the same names, with
// two differences:
// - an interrupt, an exit or a MemoryError raised while an argument converts
//   reaches the caller as itself; the stock casters clear every error, so that
//   it came back as "incompatible function arguments";
// - predict's argument is read without the sequence protocol where that gives
//   the same doubles: a list or tuple of floats, or an array of native doubles.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "model/linear_regression.hpp"

namespace trendfit::bindings {

namespace py = pybind11;

// Whether the Python error being raised must reach the caller unchanged
// instead of becoming a rejected argument: anything that is not an Exception
// (KeyboardInterrupt, SystemExit, ...) and MemoryError.
inline bool error_must_propagate() {
    PyObject* raised = PyErr_Occurred();
    return raised != nullptr && (!PyErr_GivenExceptionMatches(raised, PyExc_Exception) ||
                                 PyErr_GivenExceptionMatches(raised, PyExc_MemoryError));
}

// Ends a failed conversion step: rethrows the error if it must propagate,
// otherwise forgets it, as pybind11 does.
inline void drop_conversion_error() {
    if (error_must_propagate()) throw py::error_already_set();
    PyErr_Clear();
}

// A `double` parameter.
struct Number {
    double value = 0.0;
};

// An `array_t<double>` parameter (forced casting), for the constructor.
struct ArrayArgument {
    py::array_t<double> array;
};

// predict's result, the list of floats that pybind11 would make of a
// std::vector<double>, built without one.
struct Predictions {
    py::list list;
};

// predict's `std::vector<double>` parameter. An array of native doubles is
// not copied: `view` then describes it, and `buffer` keeps it exported until
// the call returns. Otherwise `values` holds the converted elements.
class PredictArgument {
public:
    PredictArgument() = default;
    PredictArgument(const PredictArgument&) = delete;
    PredictArgument& operator=(const PredictArgument&) = delete;
    ~PredictArgument() { release(); }

    bool load(py::handle src, bool convert);
    Predictions predictions_of(const LinearRegression& model) const;

private:
    bool read_float_items(PyObject* sequence);
    bool export_native_doubles(PyObject* object);
    bool convert_elements(py::handle sequence, bool convert);
    void release() {
        if (exported) PyBuffer_Release(&buffer);
        exported = false;
    }

    std::vector<double> values;
    Py_buffer buffer{};
    bool exported = false;
    mutable std::ptrdiff_t extent = 0, stride = 0;
    mutable DoubleArrayView view{};
};

// MemoryError for a sequence whose claimed length cannot be had, naming
// predict and that length instead of the allocator's bare message.
[[noreturn]] inline void refuse_for_memory(std::size_t length) {
    const std::string message =
        "predict(): the argument claims a length of " + std::to_string(length) + ", more than there is memory for";
    PyErr_SetString(PyExc_MemoryError, message.c_str());
    throw py::error_already_set();
}

// Reserves room for a sequence's claimed length.
inline void reserve_claimed(std::vector<double>& values, std::size_t length) {
    try {
        values.reserve(length);
    } catch (const std::length_error&) {
        throw py::value_error("predict(): the argument claims a length of " + std::to_string(length) +
                              ", more than a sequence of doubles can hold");
    } catch (const std::bad_alloc&) {
        refuse_for_memory(length);
    }
}

}  // namespace trendfit::bindings

namespace pybind11::detail {

template <>
class type_caster<trendfit::bindings::Number> {
public:
    PYBIND11_TYPE_CASTER(trendfit::bindings::Number, make_caster<double>::name);

    // pybind11's float conversion: PyFloat_AsDouble, then PyNumber_Float for numbers.
    bool load(handle src, bool convert) {
        if (!src || (!convert && !PyFloat_Check(src.ptr()))) return false;
        const double converted = PyFloat_AsDouble(src.ptr());
        if (converted == -1.0 && PyErr_Occurred()) {
            trendfit::bindings::drop_conversion_error();
            if (!convert || PyNumber_Check(src.ptr()) == 0) return false;
            const auto as_float = reinterpret_steal<object>(PyNumber_Float(src.ptr()));
            if (!as_float) trendfit::bindings::drop_conversion_error();
            return load(as_float, false);
        }
        value.value = converted;
        return true;
    }
};

template <>
class type_caster<trendfit::bindings::ArrayArgument> {
    struct Array : array_t<double> {
        using array_t<double>::raw_array_t;  // NumPy's conversion, error left set
    };

public:
    PYBIND11_TYPE_CASTER(trendfit::bindings::ArrayArgument, handle_type_name<array_t<double>>::name);

    bool load(handle src, bool convert) {
        if (!convert && !array_t<double>::check_(src)) return false;
        value.array = reinterpret_steal<array_t<double>>(Array::raw_array_t(src.ptr()));
        if (!value.array) trendfit::bindings::drop_conversion_error();
        return static_cast<bool>(value.array);
    }
};

template <>
class type_caster<trendfit::bindings::Predictions> {
public:
    static constexpr auto name = make_caster<std::vector<double>>::name;
    static handle cast(trendfit::bindings::Predictions&& result, return_value_policy, handle) {
        return result.list.release();
    }
};

template <>
class type_caster<trendfit::bindings::PredictArgument> {
public:
    // Signature names only: the argument is converted in place, never moved.
    static constexpr auto name = make_caster<std::vector<double>>::name;
    template <typename>
    using cast_op_type = const trendfit::bindings::PredictArgument&;
    operator const trendfit::bindings::PredictArgument&() const { return value; }

    bool load(handle src, bool convert) { return value.load(src, convert); }

private:
    trendfit::bindings::PredictArgument value;
};

}  // namespace pybind11::detail

namespace trendfit::bindings {

// pybind11's sequence conversion (a sequence other than str and bytes, or a
// generator, set or dict view taken as a tuple first), with its element
// conversion; floats in a list or tuple and native doubles in an array are
// read directly, which gives the same doubles.
inline bool PredictArgument::load(py::handle src, bool convert) {
    release();
    values.clear();
    if (!py::detail::object_is_convertible_to_std_vector(src)) return false;
    if (py::isinstance<py::sequence>(src)) {
        if (read_float_items(src.ptr()) || export_native_doubles(src.ptr())) return true;
        return convert_elements(src, convert);
    }
    if (!convert) return false;
    return convert_elements(py::tuple(py::reinterpret_borrow<py::iterable>(src)), convert);
}

inline bool PredictArgument::convert_elements(py::handle sequence, bool convert) {
    values.clear();
    reserve_claimed(values, py::reinterpret_borrow<py::sequence>(sequence).size());
    for (const py::handle item : sequence) {
        py::detail::make_caster<Number> element;
        if (!element.load(item, convert)) return false;
        values.push_back(py::detail::cast_op<Number>(element).value);
    }
    return true;
}

// The model evaluates the values in blocks and each block becomes floats at
// once: no buffer of all the predictions is made.
inline Predictions PredictArgument::predictions_of(const LinearRegression& model) const {
    if (!exported) {
        extent = static_cast<std::ptrdiff_t>(values.size());
        stride = sizeof(double);
        view = DoubleArrayView{values.data(), 1, &extent, &stride};
    }
    Predictions result{py::reinterpret_steal<py::list>(PyList_New(extent))};
    if (!result.list) {
        if (PyErr_ExceptionMatches(PyExc_MemoryError)) refuse_for_memory(static_cast<std::size_t>(extent));
        throw py::error_already_set();
    }
    Py_ssize_t next = 0;
    model.predict(view, [&result, &next](const double* block, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            PyObject* prediction = PyFloat_FromDouble(block[i]);
            if (prediction == nullptr) throw py::error_already_set();
            PyList_SET_ITEM(result.list.ptr(), next++, prediction);
        }
    });
    return result;
}

// A list or tuple (not a subclass, which may read differently) whose items
// are all floats. Nothing here runs Python code, so the list cannot change
// while it is read; the copy is taken before anything else can run.
inline bool PredictArgument::read_float_items(PyObject* sequence) {
    if (!PyList_CheckExact(sequence) && !PyTuple_CheckExact(sequence)) return false;
    const Py_ssize_t length = PySequence_Fast_GET_SIZE(sequence);
    reserve_claimed(values, static_cast<std::size_t>(length));
    PyObject* const* items = PySequence_Fast_ITEMS(sequence);
    for (Py_ssize_t i = 0; i < length; ++i) {
        PyObject* item = items[i];
        // A float subclass's value is read directly too; its __float__ is never called.
        if (!PyFloat_CheckExact(item) && !PyFloat_Check(item)) {
            values.clear();
            return false;
        }
        values.push_back(PyFloat_AS_DOUBLE(item));
    }
    return true;
}

// A one-dimensional buffer of native doubles from a type whose items are
// exactly its buffer's elements: NumPy's own array type (not a subclass, such
// as a masked array), memoryview and array.array.
inline bool PredictArgument::export_native_doubles(PyObject* object) {
    const char* type_name = Py_TYPE(object)->tp_name;
    const bool plain_array = std::strcmp(type_name, "numpy.ndarray") == 0 &&
                             !PyType_HasFeature(Py_TYPE(object), Py_TPFLAGS_HEAPTYPE);
    if (!plain_array && !PyMemoryView_Check(object) && std::strcmp(type_name, "array.array") != 0) return false;
    if (PyObject_GetBuffer(object, &buffer, PyBUF_STRIDES | PyBUF_FORMAT) != 0) {
        drop_conversion_error();
        return false;
    }
    exported = true;
    const char* format = buffer.format != nullptr ? buffer.format : "B";
    const bool native_doubles = (std::strcmp(format, "d") == 0 || std::strcmp(format, "@d") == 0) &&
                                buffer.itemsize == sizeof(double) && buffer.ndim == 1;
    if (!native_doubles) {
        release();
        return false;
    }
    extent = buffer.shape[0];
    stride = buffer.strides[0];
    view = DoubleArrayView{buffer.buf, 1, &extent, &stride};
    return true;
}

}  // namespace trendfit::bindings
