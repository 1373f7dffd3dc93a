// Internal failures of the core.
//
// Anticipated input errors (a bad FEN field, a bad move text) are ordinary
// results (std::expected<T, std::string>). A violated internal expectation
// instead stops the operation by throwing the one exception type below; only
// the Python call boundary catches it and turns it into an exception there.
#pragma once

#include <exception>
#include <source_location>
#include <string>

namespace mirelo {

class Failure : public std::exception {
public:
    Failure(std::string message, std::source_location where)
        : message_(std::move(message)), where_(where) {}

    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& message() const noexcept { return message_; }
    const std::source_location& where() const noexcept { return where_; }

private:
    std::string message_;
    std::source_location where_;
};

[[noreturn]] inline void fail(std::string message,
                              std::source_location where = std::source_location::current()) {
    throw Failure(std::move(message), where);
}

}  // namespace mirelo
