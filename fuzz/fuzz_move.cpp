// Move text parsing on arbitrary bytes, and the text form of every move value.
//
// ChessMove::from_str must end in exactly one of three ways: a move whose text
// form reads back to the same move, an error text naming the trimmed input, or
// an internal failure with one of the documented messages. The first two
// bytes of the input are also taken as a raw 16-bit move whose text form (for
// the codes that have one) must parse back to the same squares.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "chess_move.h"
#include "failure.h"
#include "fuzz_common.h"

using mirelo::ChessMove;

namespace {

bool ascii_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool starts_with(const std::string& text, std::string_view prefix) { return text.rfind(prefix, 0) == 0; }

void check_parse(std::string_view text) {
    const std::string input = "input \"" + fuzz::printable(text) + "\"";
    try {
        const auto move = ChessMove::from_str(text);
        if (!move) {
            const std::string& error = move.error();
            constexpr std::string_view length_error =
                "Unsupported move notation. Must be 4 or 5 (promotion) characters. Found: ";
            constexpr std::string_view letter_error = "Unsupported promotion type for ";
            std::string trimmed;
            if (starts_with(error, length_error)) {
                trimmed = error.substr(length_error.size());
                FUZZ_CHECK(trimmed.size() != 4 && trimmed.size() != 5, input + ": " + error);
            } else {
                FUZZ_CHECK(starts_with(error, letter_error), input + ": unexpected error \"" + error + "\"");
                trimmed = error.substr(letter_error.size());
                FUZZ_CHECK(trimmed.size() == 5, input + ": " + error);
                const char last = trimmed.back();
                FUZZ_CHECK(std::string_view("nNbBrRqQ").find(last) == std::string_view::npos, input + ": " + error);
            }
            // The trimmed text is a piece of the input without white space at its ends.
            FUZZ_CHECK(text.find(trimmed) != std::string_view::npos, input + ": " + error);
            if (!trimmed.empty())
                FUZZ_CHECK(!ascii_space(trimmed.front()) && !ascii_space(trimmed.back()), input + ": " + error);
            return;
        }
        const unsigned special = move->special();
        FUZZ_CHECK(special == 0 || (special >= 4 && special <= 7), input + ": special " + std::to_string(special));
        const std::string written = move->to_string();
        FUZZ_CHECK(written.size() == (special ? 5u : 4u), input + ": wrote " + written);
        // The text form is the trimmed input with the promotion letter in lower case.
        std::string expected(text.substr(text.find(written.substr(0, 4))));
        expected.resize(written.size());
        if (expected.size() == 5) expected[4] = static_cast<char>(expected[4] | 0x20);
        FUZZ_CHECK(written == expected, input + ": wrote " + written);
        const auto back = ChessMove::from_str(written);
        FUZZ_CHECK(back && *back == *move, input + ": " + written + " does not read back");
        char buffer[5];
        FUZZ_CHECK(std::string(buffer, move->write(buffer)) == written, input);
    } catch (const mirelo::Failure& failure) {
        const std::string& message = failure.message();
        const bool known = message == "assertion failed: from_file <= 7" ||
                           message == "assertion failed: from_rank <= 7" ||
                           message == "assertion failed: to_file <= 7" ||
                           message == "assertion failed: to_rank <= 7" ||
                           starts_with(message, "Move text has fewer than four characters: ");
        FUZZ_CHECK(known, input + ": unexpected failure \"" + message + "\"");
    }
}

void check_value(std::uint16_t data) {
    const ChessMove move{data};
    const unsigned special = move.special();
    try {
        const std::string text = move.to_string();
        FUZZ_CHECK(special <= 7, "special " + std::to_string(special) + " has a text form " + text);
        const auto back = ChessMove::from_str(text);
        FUZZ_CHECK(back.has_value(), "text " + text + " of " + fuzz::hex(data) + " rejected");
        FUZZ_CHECK(back->from() == move.from() && back->to() == move.to(), text);
        FUZZ_CHECK(back->special() == (special >= 4 ? special : 0u), text);
        FUZZ_CHECK(ChessMove::make(move.from(), move.to(), special) == move, text);
    } catch (const mirelo::Failure&) {
        FUZZ_CHECK(special > 7, "move " + fuzz::hex(data) + " has no text form");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    check_parse(std::string_view(reinterpret_cast<const char*>(data), size));
    if (size >= 2) check_value(static_cast<std::uint16_t>(data[0] | (data[1] << 8)));
    return 0;
}
