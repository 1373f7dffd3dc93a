#include "messages.h"

#include "text.h"

namespace mirelo::capi::messages {

std::string_view refusal(int status) {
    return status == MIRELO_BORROWED ? "Already borrowed" : "Already mutably borrowed";
}

std::string_view needs_room() { return "Board history needs a larger room"; }

std::string invalid_fen(std::string_view error) { return "Invalid fen: " + std::string(error); }

std::string invalid_move(std::string_view error) { return "Invalid chess move: " + std::string(error); }

std::string takes(std::string_view name, std::size_t count, std::size_t required, std::size_t given) {
    const std::string range = required == count ? std::to_string(count)
                                                : "from " + std::to_string(required) + " to " + std::to_string(count);
    return std::string(name) + " takes " + range + " positional arguments but " + std::to_string(given) +
           (given == 1 ? " was" : " were") + " given";
}

std::string multiple_values(std::string_view name, std::string_view param) {
    return std::string(name) + " got multiple values for argument '" + std::string(param) + "'";
}

std::string unexpected_keyword(std::string_view name, std::string_view keyword) {
    return std::string(name) + " got an unexpected keyword argument '" + std::string(keyword) + "'";
}

std::string missing(std::string_view name, std::span<const char* const> params) {
    std::string list;
    for (std::size_t i = 0; i < params.size(); ++i) {
        if (i > 0) list += params.size() == 2 ? " and " : (i == params.size() - 1 ? ", and " : ", ");
        list += '\'';
        list += params[i];
        list += '\'';
    }
    return std::string(name) + " missing " + std::to_string(params.size()) + " required positional " +
           (params.size() == 1 ? "argument" : "arguments") + ": " + list;
}

std::string not_convertible(std::string_view param, std::string_view type_name, std::string_view target) {
    std::string message = "'" + std::string(type_name) + "' object cannot be converted to '" + std::string(target) + "'";
    return param.empty() ? message : "argument '" + std::string(param) + "': " + message;
}

std::string not_a_list(std::string_view param) { return std::string(param) + " must be a list or tuple"; }

std::string invalid_depth(std::string_view value) {
    return "Invalid depth: " + std::string(value) + " (must be from 0 to " + std::to_string(MIRELO_MAX_PERFT_DEPTH) +
           ")";
}

std::string not_a_move_index(std::string_view value) {
    return std::string(value) + " is not the index of a move: indices are 0 to " +
           std::to_string(MIRELO_MOVE_INDEX_SIZE - 1) + ", not all used";
}

std::string not_a_plane_element(std::string_view value) { return "no plane element kind " + std::string(value); }

std::string not_a_move_text(std::string_view text) { return mirelo::quoted(text) + " is not a move text of the index layout"; }

std::string fen_item(std::size_t index, std::string_view text, std::string_view error) {
    return "fens[" + std::to_string(index) + "] " + mirelo::quoted(text) + ": " + std::string(error);
}

std::string wrong_size(std::size_t size, std::size_t expected) {
    return "out has " + std::to_string(size) + " bytes, expected " + std::to_string(expected);
}

std::string not_a_legal_move(std::string_view text, std::string_view fen) {
    return mirelo::quoted(text) + " is not a legal move in " + std::string(fen);
}

}  // namespace mirelo::capi::messages
