// Argument types of the methods that take data, and their conversions.
//
// Each argument converts in the default floating-point state, under one guard
// for the whole argument: NumPy's casts and a number's __float__ round as
// they do by default, whatever state the caller left the thread in.
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

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "model/floating_point_state.hpp"
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
    py::object list;
};

// predict's `std::vector<double>` parameter, read in one of three ways:
// - a list or tuple (not a subclass, which may read differently) whose items
//   all turn out to be floats is read in place as the predictions are made;
//   at the first item that is not a float, what was made is dropped and the
//   list is converted as any other sequence;
// - a one-dimensional buffer of native doubles is read in place likewise;
// - anything else is converted element by element into `values` first.
// Reading in place is safe: creating the result's floats runs no Python code
// and cannot start the cyclic collector (floats are not tracked by it), so
// nothing can change the list or the array meanwhile. The result list, whose
// allocation can, is made before the input is read, and the list's length is
// checked again before each block.
class PredictArgument {
public:
    PredictArgument() = default;
    PredictArgument(const PredictArgument&) = delete;
    PredictArgument& operator=(const PredictArgument&) = delete;
    ~PredictArgument() { release_buffer(); }

    bool load(py::handle src, bool convert);
    Predictions predictions_of(const LinearRegression& model);

private:
    bool export_native_doubles(PyObject* object);
    bool convert_elements(py::handle sequence);
    bool read_float_items(std::size_t start, std::size_t count, double* into) const;
    void read_doubles(std::size_t start, std::size_t count, double* into) const;
    template <typename Read>
    bool predict_into_result(const FittedLine& line, Read read);
    void release_buffer() {
        if (exported) PyBuffer_Release(&buffer);
        exported = false;
    }

    bool convert = true;
    std::size_t length = 0;
    py::object float_items;  // a list or tuple, read in place while its items are floats
    Py_buffer buffer{};
    bool exported = false;
    std::vector<double> values;
    py::object result;  // the list being filled
};

// MemoryError for a sequence whose claimed length cannot be had, naming
// predict and that length instead of the allocator's bare message.
inline std::string claimed_length_refused(std::size_t length, const char* why) {
    return "predict(): the argument claims a length of " + std::to_string(length) + ", more than " + why;
}

[[noreturn]] inline void refuse_for_memory(std::size_t length) {
    PyErr_SetString(PyExc_MemoryError, claimed_length_refused(length, "there is memory for").c_str());
    throw py::error_already_set();
}

// Reserves room for a sequence's claimed length.
inline void reserve_claimed(std::vector<double>& values, std::size_t length) {
    try {
        values.reserve(length);
    } catch (const std::length_error&) {
        throw py::value_error(claimed_length_refused(length, "a sequence of doubles can hold"));
    } catch (const std::bad_alloc&) {
        refuse_for_memory(length);
    }
}

// pybind11's float conversion: PyFloat_AsDouble, then PyNumber_Float for
// numbers. The caller puts the default floating-point state in place.
inline bool load_double(py::handle src, bool convert, double& into) {
    if (!src || (!convert && !PyFloat_Check(src.ptr()))) return false;
    const double converted = PyFloat_AsDouble(src.ptr());
    if (converted == -1.0 && PyErr_Occurred()) {
        drop_conversion_error();
        if (!convert || PyNumber_Check(src.ptr()) == 0) return false;
        const auto as_float = py::reinterpret_steal<py::object>(PyNumber_Float(src.ptr()));
        if (!as_float) drop_conversion_error();
        return load_double(as_float, false, into);
    }
    into = converted;
    return true;
}

}  // namespace trendfit::bindings

namespace pybind11::detail {

template <>
class type_caster<trendfit::bindings::Number> {
public:
    PYBIND11_TYPE_CASTER(trendfit::bindings::Number, make_caster<double>::name);

    bool load(handle src, bool convert) {
        return trendfit::detail::in_default_state(
            [&] { return trendfit::bindings::load_double(src, convert, value.value); });
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
        value.array = trendfit::detail::in_default_state(
            [&] { return reinterpret_steal<array_t<double>>(Array::raw_array_t(src.ptr())); });
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
    using cast_op_type = trendfit::bindings::PredictArgument&;
    operator trendfit::bindings::PredictArgument&() { return value; }

    bool load(handle src, bool convert) {
        return trendfit::detail::in_default_state([&] { return value.load(src, convert); });
    }

private:
    trendfit::bindings::PredictArgument value;
};

}  // namespace pybind11::detail

namespace trendfit::bindings {

inline py::object result_list(std::size_t length) {
    auto list = py::reinterpret_steal<py::object>(PyList_New(static_cast<Py_ssize_t>(length)));
    if (!list) {
        if (PyErr_ExceptionMatches(PyExc_MemoryError)) refuse_for_memory(length);
        throw py::error_already_set();
    }
    return list;
}

// pybind11's sequence conversion (a sequence other than str and bytes, or a
// generator, set or dict view taken as a tuple first), with its element
// conversion, unless the argument can be read in place. A memoryview that is
// not one-dimensional, which cannot be iterated, is refused.
inline bool PredictArgument::load(py::handle src, bool allow_conversion) {
    convert = allow_conversion;
    release_buffer();
    float_items = py::object();
    values.clear();
    if (!py::detail::object_is_convertible_to_std_vector(src)) return false;
    if (PyMemoryView_Check(src.ptr()) && PyMemoryView_GET_BUFFER(src.ptr())->ndim != 1) return false;
    if (py::isinstance<py::sequence>(src)) {
        if (PyList_CheckExact(src.ptr()) || PyTuple_CheckExact(src.ptr())) {
            float_items = py::reinterpret_borrow<py::object>(src);
            return true;
        }
        return export_native_doubles(src.ptr()) || convert_elements(src);
    }
    if (!convert) return false;
    return convert_elements(py::tuple(py::reinterpret_borrow<py::iterable>(src)));
}

inline bool PredictArgument::convert_elements(py::handle sequence) {
    values.clear();
    reserve_claimed(values, py::reinterpret_borrow<py::sequence>(sequence).size());
    for (const py::handle item : sequence) {
        double value = 0.0;
        if (!load_double(item, convert, value)) return false;
        values.push_back(value);
    }
    length = values.size();
    return true;
}

// Whether `object` is of exactly the type `name` of the module `module`. An
// object of that type exists only once its module has been imported, so the
// module is looked up among the imported ones, never imported here.
inline bool has_exact_type(PyObject* object, const char* module, const char* name) {
    PyObject* imported = PyDict_GetItemString(PyImport_GetModuleDict(), module);
    if (imported == nullptr) return false;
    const auto type = py::reinterpret_steal<py::object>(PyObject_GetAttrString(imported, name));
    if (!type) drop_conversion_error();
    return type.ptr() == reinterpret_cast<PyObject*>(Py_TYPE(object));
}

// The struct-module format of a double in this machine's byte order: native
// ("d", "@d", "=d") or the explicit order that is this machine's.
inline bool is_native_double_format(const char* format) {
    if (std::strcmp(format, "d") == 0) return true;
    const char order = format[0];
    const bool this_machines_order =
        order == '@' || order == '=' || order == (PY_LITTLE_ENDIAN ? '<' : '>') || (order == '!' && !PY_LITTLE_ENDIAN);
    return this_machines_order && std::strcmp(format + 1, "d") == 0;
}

// A one-dimensional buffer of native doubles from a type whose items are
// exactly its buffer's elements: NumPy's own array type (not a subclass, such
// as a masked array), memoryview and array.array (not a subclass either).
inline bool PredictArgument::export_native_doubles(PyObject* object) {
    if (!PyMemoryView_Check(object) && !has_exact_type(object, "numpy", "ndarray") &&
        !has_exact_type(object, "array", "array"))
        return false;
    if (PyObject_GetBuffer(object, &buffer, PyBUF_STRIDES | PyBUF_FORMAT) != 0) {
        drop_conversion_error();
        return false;
    }
    exported = true;
    const bool native_doubles = is_native_double_format(buffer.format != nullptr ? buffer.format : "B") &&
                                buffer.itemsize == sizeof(double) && buffer.ndim == 1;
    if (!native_doubles) {
        release_buffer();
        return false;
    }
    length = static_cast<std::size_t>(buffer.shape[0]);
    return true;
}

// False if the list's length changed or an item is not a float. A float
// subclass counts: its value is read directly, as PyFloat_AsDouble reads it,
// and its __float__ is never called.
inline bool PredictArgument::read_float_items(std::size_t start, std::size_t count, double* into) const {
    PyObject* sequence = float_items.ptr();
    if (static_cast<std::size_t>(PySequence_Fast_GET_SIZE(sequence)) != length) return false;
    PyObject* const* items = PySequence_Fast_ITEMS(sequence) + start;
    for (std::size_t i = 0; i < count; ++i) {
        if (!PyFloat_CheckExact(items[i]) && !PyFloat_Check(items[i])) return false;
        into[i] = PyFloat_AS_DOUBLE(items[i]);
    }
    return true;
}

inline void PredictArgument::read_doubles(std::size_t start, std::size_t count, double* into) const {
    if (!exported) {
        std::memcpy(into, values.data() + start, count * sizeof(double));
        return;
    }
    const std::ptrdiff_t stride = buffer.strides[0];
    const char* first = static_cast<const char*>(buffer.buf) + static_cast<std::ptrdiff_t>(start) * stride;
    for (std::size_t i = 0; i < count; ++i)
        std::memcpy(&into[i], first + static_cast<std::ptrdiff_t>(i) * stride, sizeof(double));
}

// Makes the result list and fills it a block of predictions at a time: no
// buffer of all the predictions is made. False, and no result, if `read`
// fails.
template <typename Read>
bool PredictArgument::predict_into_result(const FittedLine& line, Read read) {
    result = result_list(length);
    constexpr std::size_t block = 256;
    double inputs[block], predictions[block];
    for (std::size_t start = 0; start < length; start += block) {
        const std::size_t count = std::min(block, length - start);
        if (!read(start, count, inputs)) {
            result = py::object();
            return false;
        }
        line.predict(inputs, count, predictions);
        for (std::size_t i = 0; i < count; ++i) {
            PyObject* prediction = PyFloat_FromDouble(predictions[i]);
            if (prediction == nullptr) throw py::error_already_set();
            PyList_SET_ITEM(result.ptr(), static_cast<Py_ssize_t>(start + i), prediction);
        }
    }
    return true;
}

inline Predictions PredictArgument::predictions_of(const LinearRegression& model) {
    const FittedLine line = model.fitted_line();
    const auto read_doubles_block = [this](std::size_t start, std::size_t count, double* into) {
        read_doubles(start, count, into);
        return true;
    };
    if (float_items) {
        length = static_cast<std::size_t>(PySequence_Fast_GET_SIZE(float_items.ptr()));
        const auto read_floats_block = [this](std::size_t start, std::size_t count, double* into) {
            return read_float_items(start, count, into);
        };
        if (!predict_into_result(line, read_floats_block)) {
            // Not all floats: the conversion any other sequence gets, and its
            // incompatible-arguments TypeError if it fails.
            const bool converted = detail::in_default_state([this] { return convert_elements(float_items); });
            if (!converted) throw py::reference_cast_error();  // pybind11 then raises it
            predict_into_result(line, read_doubles_block);
        }
    } else {
        predict_into_result(line, read_doubles_block);
    }
    return Predictions{std::move(result)};
}

}  // namespace trendfit::bindings
