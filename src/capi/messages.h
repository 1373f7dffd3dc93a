// Every message the Python faces raise, written once. The C interface hands
// a face the finished text; no face composes one of its own.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "mirelo_capi.h"

namespace mirelo::capi::messages {

// Borrow refusals.
std::string_view refusal(int status);

// A record that needs a larger room (faces that give rooms never show it).
std::string_view needs_room();

// Errors of the core, with the prefix of the call that met them.
std::string invalid_fen(std::string_view error);
std::string invalid_move(std::string_view error);

// Argument binding, in the interpreter's own words; name is the callable's
// name in messages ("Board.push()").
std::string takes(std::string_view name, std::size_t count, std::size_t required, std::size_t given);
std::string multiple_values(std::string_view name, std::string_view param);
std::string unexpected_keyword(std::string_view name, std::string_view keyword);
std::string missing(std::string_view name, std::span<const char* const> params);

// An argument of the wrong type: "argument 'fen': 'int' object cannot be
// converted to 'PyString'"; without a parameter (the receiver) no prefix.
std::string not_convertible(std::string_view param, std::string_view type_name, std::string_view target);
std::string not_a_list(std::string_view param);

// Values outside their range, the value written as given.
std::string invalid_depth(std::string_view value);
std::string not_a_move_index(std::string_view value);
std::string not_a_plane_element(std::string_view value);
std::string not_a_move_text(std::string_view text);
std::string fen_item(std::size_t index, std::string_view text, std::string_view error);
std::string wrong_size(std::size_t size, std::size_t expected);

// A move text that names no legal move of the board with the given FEN.
std::string not_a_legal_move(std::string_view text, std::string_view fen);

}  // namespace mirelo::capi::messages
