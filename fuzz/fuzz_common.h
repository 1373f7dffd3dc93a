// Helpers shared by the libFuzzer targets: a check that stops the run with a
// message, and comparisons of whole board records.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "board.h"
#include "zobrist.h"

namespace fuzz {

// Stops the run: libFuzzer reports the abort as a crash and saves the input.
[[noreturn]] inline void violated(const char* what, const std::string& detail, const char* file, int line) {
    std::fprintf(stderr, "\n*** invariant violated at %s:%d: %s\n    %s\n", file, line, what, detail.c_str());
    std::fflush(stderr);
    std::abort();
}

#define FUZZ_CHECK(cond, detail)                                         \
    do {                                                                 \
        if (!(cond)) ::fuzz::violated(#cond, (detail), __FILE__, __LINE__); \
    } while (0)

inline std::string hex(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

inline std::string printable(std::string_view text) {
    std::string out;
    for (const unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", c);
            out += escape;
        }
    }
    return out;
}

// Everything a board holds apart from the identity of its feature tables.
inline bool same_state(const mirelo::Board& a, const mirelo::Board& b) {
    if (a.pieces != b.pieces || a.info != b.info) return false;
    if (a.zobrist.z_key != b.zobrist.z_key || a.zobrist.z_key16 != b.zobrist.z_key16) return false;
    if (a.saved_pieces != b.saved_pieces) return false;
    if (a.move_stack.size() != b.move_stack.size()) return false;
    for (std::size_t i = 0; i < a.move_stack.size(); ++i)
        if (a.move_stack[i].info != b.move_stack[i].info || a.move_stack[i].saved != b.move_stack[i].saved ||
            a.move_stack[i].progress != b.move_stack[i].progress)
            return false;
    return true;
}

inline std::string describe(const mirelo::Board& board) {
    std::string text = board.to_fen() + " info=" + hex(board.info) + " key=" + hex(board.zobrist.z_key) +
                       " key16=" + hex(board.zobrist.z_key16) + " history=" + std::to_string(board.move_stack.size()) +
                       " pieces=";
    for (const auto p : board.pieces) text += hex(p) + ",";
    return text;
}

// The keys of the board recomputed from scratch with its own tables.
inline std::pair<std::uint64_t, std::uint16_t> recomputed_keys(const mirelo::Board& board) {
    return mirelo::zobrist_keys(*board.zobrist.z64, *board.zobrist.z16, board.pieces, board.info);
}

// No square in two words; at most one en-passant bit, in the half of the side
// to move; nothing above bit 20. Such boards come back unchanged from a FEN
// round trip.
inline bool well_formed(const std::array<mirelo::Bitboard, 12>& pieces, std::uint64_t info) {
    if (mirelo::squares_held_twice(pieces) || (info & ~mirelo::INFO_STATE_MASK)) return false;
    const std::uint64_t ep = info & mirelo::EN_PASSANT_MASK;
    if (ep & (ep - 1)) return false;
    const std::uint64_t own_half = std::uint64_t{0xFF} << mirelo::side(mirelo::side_to_move(info)).en_passant_bit;
    return (ep & ~own_half) == 0;
}

// The undo stack agrees with the move records: one word per bit of every
// record's mask.
inline void check_stacks(const mirelo::Board& board) {
    std::size_t expected = 0;
    for (const auto& record : board.move_stack) {
        FUZZ_CHECK((record.saved >> 12) == 0, "saved mask " + hex(record.saved));
        FUZZ_CHECK(record.saved != 0, "a move record saved no bitboard");
        expected += mirelo::count_squares(record.saved);
    }
    FUZZ_CHECK(board.saved_pieces.size() == expected,
               "undo stack holds " + std::to_string(board.saved_pieces.size()) + " words, records name " +
                   std::to_string(expected));
}

}  // namespace fuzz
