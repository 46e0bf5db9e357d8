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
#pragma once

#include "py_api/pyref.hpp"

#include <array>
#include <cstddef>
#include <string_view>
#include <tuple>
#include <type_traits>

namespace qm::py {

// Converter<T>::convert(PyObject* o, std::string_view name, T& out) -> bool, false with the
// Python error set. Specialised for each field type in convert.hpp; a method file may add
// its own for a type only it reads.
template <class T>
struct Converter;

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
    using Field = std::remove_cvref_t<decltype(out.*(p.field))>;
    return Converter<Field>::convert(o, p.name, out.*(p.field));
}

template <class Args, std::size_t... I>
bool convert_each(PyObject* const* args, Args& out, std::index_sequence<I...>) {
    return (convert_param<Args, I>(args, out) && ...);
}

}  // namespace detail

// Converts resolved arguments (one per parameter, defaults filled in) into `out`, in order,
// stopping at the first failure.
template <class Args>
bool convert_params(PyObject* const* args, Args& out) {
    return detail::convert_each(args, out, std::make_index_sequence<detail::param_count<Args>()>{});
}

}  // namespace qm::py
