// Typed parameter declarations. A method's parameters are the fields of one struct, each
// tied to its name and default (in text-signature syntax) by one declaration, so the text
// signature, the argument parser and the conversions all come from the same lines:
//
//     struct NeighborsArgs {
//         std::uint64_t node_id;
//         std::string direction;
//         std::optional<std::string> edge_type;
//         static constexpr auto params = declare(
//             param("node_id", &NeighborsArgs::node_id),
//             param("direction", &NeighborsArgs::direction, R"("out")"),
//             param("edge_type", &NeighborsArgs::edge_type, "None"));
//     };
//
// Arguments are converted in declaration order by Converter<field type>. A parameter whose
// default is None and that receives None keeps its field's initial value (an empty optional,
// list or dict), which is what "None means the same as omitting it" asks for.
//
// The same declarations read dicts whose fields mirror a method's parameters (read_fields):
// a batch job is the method's arguments written as a dict.
#pragma once

#include "py_api/pyref.hpp"

#include <array>
#include <cstddef>
#include <string_view>
#include <tuple>
#include <type_traits>

namespace qm::py {

// Converter<T>, specialised per field type (args.hpp has the common ones; a method file may
// add its own for a type only it reads):
//   static bool read(PyObject* o, T& out);   false with a TypeError stating the reason, or
//                                            the interpreter's own error
//   static constexpr std::string_view kNoun; "an int", for dict-field messages
// or, for an argument that raises its own messages (record dicts, jobs):
//   static bool convert(PyObject* o, std::string_view name, T& out);
template <class T>
struct Converter;

// Argument context: a pending TypeError becomes "argument '{name}': {its message}".
void wrap_argument_error(std::string_view name);
// Field context: the pending error becomes ValueError(message), unless it is MemoryError or
// not an ordinary exception (KeyboardInterrupt), which propagate. Always false.
bool replace_error(std::string_view message);
// The Python value of a default written in text-signature syntax; made once per text.
PyObject* default_object(std::string_view text);

template <class Args, class T>
struct Param {
    std::string_view name;
    T Args::*field;
    std::string_view default_text;  // empty: required

    constexpr bool required() const { return default_text.empty(); }
    constexpr bool none_default() const { return default_text == "None"; }
};

// One parameter: its name, the field it fills and, when optional, its default as the text
// signature shows it ("None", "20", "0.85", R"("out")", "True").
template <class Args, class T>
constexpr Param<Args, T> param(std::string_view name, T Args::*field, std::string_view default_text = {}) {
    return {name, field, default_text};
}

// The parameter list of one method, in signature order.
template <class... P>
constexpr std::tuple<P...> declare(P... p) {
    return std::tuple<P...>(p...);
}

// The name and default text of one parameter, free of its struct's type: what the
// signature builder reads.
struct ParamText {
    std::string_view name;
    std::string_view default_text;
};

namespace detail {

template <class Args>
constexpr std::size_t param_count() {
    return std::tuple_size_v<std::remove_cvref_t<decltype(Args::params)>>;
}

template <class Args, std::size_t... I>
constexpr auto param_texts(std::index_sequence<I...>) {
    return std::array<ParamText, sizeof...(I)>{
        ParamText{std::get<I>(Args::params).name, std::get<I>(Args::params).default_text}...};
}

template <class Args>
inline constexpr auto kParamTexts = param_texts<Args>(std::make_index_sequence<param_count<Args>()>{});

template <class Args, std::size_t I>
bool convert_param(PyObject* const* args, Args& out) {
    constexpr auto& p = std::get<I>(Args::params);
    PyObject* o = args[I];
    if constexpr (p.none_default()) {
        if (o == Py_None) return true;
    }
    auto& field = out.*(p.field);
    using C = Converter<std::remove_cvref_t<decltype(field)>>;
    if constexpr (requires { C::convert(o, p.name, field); }) {
        return C::convert(o, p.name, field);
    } else {
        if (C::read(o, field)) return true;
        wrap_argument_error(p.name);
        return false;
    }
}

template <class Args, std::size_t... I>
bool convert_each(PyObject* const* args, Args& out, std::index_sequence<I...>) {
    return (convert_param<Args, I>(args, out) && ...);
}

template <class Args, class Messages, std::size_t I>
bool read_field(PyObject* dict, Args& out, const Messages& m) {
    constexpr auto& p = std::get<I>(Args::params);
    auto& field = out.*(p.field);
    using C = Converter<std::remove_cvref_t<decltype(field)>>;
    // Parameter names are literals, so their data is NUL-terminated.
    PyObject* found = nullptr;
    if (PyDict_GetItemStringRef(dict, p.name.data(), &found) < 0) return false;
    PyRef value = PyRef::steal(found);
    if (!value || value.get() == Py_None) {
        if constexpr (p.required()) {
            return m.missing(p.name);
        } else if constexpr (p.none_default()) {
            return true;
        } else {
            value = PyRef::borrow(default_object(p.default_text));
            if (!value) return false;
        }
    }
    if (C::read(value.get(), field)) return true;
    return replace_error(m.mismatch(p.name, C::kNoun, p.required()));
}

template <class Args, class Messages, std::size_t... I>
bool read_each(PyObject* dict, Args& out, const Messages& m, std::index_sequence<I...>) {
    return (read_field<Args, Messages, I>(dict, out, m) && ...);
}

}  // namespace detail

// Reads the fields of a dict named like Args's parameters, in declaration order, with the
// same converters and defaults; absent and None alike mean "not given". Failures are
// ValueErrors worded by `m`: m.missing(name) raises and returns false for a required field;
// m.mismatch(name, noun, required) returns the message for a value of the wrong type. Other
// keys are ignored.
template <class Args, class Messages>
bool read_fields(PyObject* dict, Args& out, const Messages& m) {
    return detail::read_each(dict, out, m, std::make_index_sequence<detail::param_count<Args>()>{});
}

// Converts resolved arguments (one per parameter, defaults filled in) into `out`, in order,
// stopping at the first failure.
template <class Args>
bool convert_params(PyObject* const* args, Args& out) {
    return detail::convert_each(args, out, std::make_index_sequence<detail::param_count<Args>()>{});
}

}  // namespace qm::py
