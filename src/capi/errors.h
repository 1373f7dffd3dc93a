// The error of the calling thread, and the guard every entry point runs its
// body in: no C++ exception leaves the C interface.
#pragma once

#include <new>
#include <source_location>
#include <string>
#include <string_view>

#include "failure.h"
#include "mirelo_capi.h"

namespace mirelo::capi {

// Records the error for the calling thread and returns its status.
int set_error(int status, std::string_view text) noexcept;

// The status of borrows that could not be taken, with its message.
int refused(int status) noexcept;

// An internal failure: its message and location are recorded and one line
// is written to standard error. A failure without a location of its own is
// located where it was caught.
int internal_failure(std::string_view message, const std::source_location& where) noexcept;

// Runs body, which returns a status, and turns every failure into one.
template <typename Body>
int guarded(Body&& body, std::source_location here = std::source_location::current()) noexcept {
    try {
        return body();
    } catch (const Failure& failure) {
        return internal_failure(failure.message(), failure.where());
    } catch (const std::bad_alloc&) {
        return set_error(MIRELO_NO_MEMORY, "");
    } catch (const std::exception& error) {
        return internal_failure(error.what(), here);
    } catch (...) {
        return internal_failure("", here);
    }
}

}  // namespace mirelo::capi
