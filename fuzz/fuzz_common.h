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
    return a.history == b.history;
}

inline std::string describe(const mirelo::Board& board) {
    std::string text = board.to_fen() + " info=" + hex(board.info) + " key=" + hex(board.zobrist.z_key) +
                       " key16=" + hex(board.zobrist.z_key16) + " history=" + std::to_string(board.history.moves()) +
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

// The history agrees with its records: one saved word per bit of every
// record's mask, and walking it back uses up every word.
inline void check_stacks(const mirelo::Board& board) {
    std::size_t words = 0, moves = 0;
    board.history.visit_back([&](const mirelo::MoveRecord& record, const mirelo::Bitboard*) {
        FUZZ_CHECK(record.saved != 0, "a move record saved no bitboard");
        words += 1 + mirelo::count_squares(record.saved);
        ++moves;
        return true;
    });
    FUZZ_CHECK(words == board.history.size() && moves == board.history.moves(),
               "history holds " + std::to_string(board.history.size()) + " words for " +
                   std::to_string(board.history.moves()) + " moves, records name " + std::to_string(words) +
                   " words of " + std::to_string(moves));
}

}  // namespace fuzz
