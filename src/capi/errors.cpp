#include "errors.h"

#include <cstdio>
#include <cstring>

#include "messages.h"

namespace mirelo::capi {

namespace {

// The message of an internal failure that carries no text of its own.
constexpr std::string_view GENERIC_FAILURE = "internal failure in the mirelo_chess core";

struct LastError {
    std::string text;
    const char* file = "";
    unsigned line = 0;
};

thread_local LastError last_error;

// One line for the user: the file's base name, not the path it was built
// from, and control characters of the message (it may quote input) escaped.
void write_diagnostic(std::string_view message, const char* file, unsigned line) noexcept {
    if (const char* slash = std::strrchr(file, '/')) file = slash + 1;
    std::fprintf(stderr, "mirelo_chess: internal failure at %s:%u: ", file, line);
    for (const char c : message) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20)
            std::fprintf(stderr, "\\x%02x", static_cast<unsigned>(byte));
        else
            std::fputc(byte, stderr);
    }
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

}  // namespace

int set_error(int status, std::string_view text) noexcept {
    try {
        last_error.text.assign(text);
    } catch (...) {
        last_error.text.clear();  // no room for the text: the caller still gets the status
    }
    last_error.file = "";
    last_error.line = 0;
    return status;
}

int refused(int status) noexcept {
    if (status != MIRELO_BORROWED && status != MIRELO_MUTABLY_BORROWED) return set_error(status, "");
    return set_error(status, messages::refusal(status));
}

int internal_failure(std::string_view message, const std::source_location& where) noexcept {
    if (message.empty()) message = GENERIC_FAILURE;
    set_error(MIRELO_FAILURE, message);
    last_error.file = where.file_name();
    last_error.line = where.line();
    write_diagnostic(message, last_error.file, last_error.line);
    return MIRELO_FAILURE;
}

}  // namespace mirelo::capi

using mirelo::capi::last_error;

extern "C" {

const char* mirelo_error_text(void) { return last_error.text.c_str(); }
size_t mirelo_error_length(void) { return last_error.text.size(); }
const char* mirelo_error_file(void) { return last_error.file; }
unsigned mirelo_error_line(void) { return last_error.line; }

}
