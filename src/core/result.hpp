// Result<T>: the one way fallible operations report failure inside the engine.
// An error is the system's own message text; the Python layer maps it to an exception.
#pragma once

#include <expected>
#include <string>
#include <utility>

namespace qm {

template <class T>
using Result = std::expected<T, std::string>;

using Status = Result<void>;

inline std::unexpected<std::string> fail(std::string message) {
    return std::unexpected<std::string>(std::move(message));
}

inline Status ok() { return {}; }

}  // namespace qm

// Propagates the error of a Result-returning expression; yields its value otherwise.
#define QM_TRY(var, expr)                                         \
    auto var##_result_ = (expr);                                  \
    if (!var##_result_) return ::qm::fail(std::move(var##_result_.error())); \
    auto var = std::move(*var##_result_)

#define QM_CHECK(expr)                                            \
    do {                                                          \
        auto qm_status_ = (expr);                                 \
        if (!qm_status_) return ::qm::fail(std::move(qm_status_.error())); \
    } while (0)
