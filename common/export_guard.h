// The boundary of every export: no C++ exception ever leaves the library
// into a C or Basic caller. An exception (an allocation failure inside a
// std::string, say) ends the call with the export's failure result instead.
// Header-only and relying on the standard library alone, so the companion
// uses it too.
#pragma once
#include <utility>

namespace vellor {

template <class Result, class Body>
Result guarded(Result failure, Body &&body) noexcept {
    try {
        return std::forward<Body>(body)();
    } catch (...) {
        return failure;
    }
}

template <class Body>
void guarded_void(Body &&body) noexcept {
    try {
        std::forward<Body>(body)();
    } catch (...) {
    }
}

}  // namespace vellor
