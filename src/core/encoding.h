// Flat numeric forms of positions and moves, for neural networks: the twelve
// piece planes written straight into a caller's buffer in one of several
// element types, and a fixed bijection between move texts and policy indices.
//
// Move indices follow a from-square layout of 76 planes of 64 squares,
// index = 64 * plane + from, on absolute squares (never flipped for Black):
//
//   planes  0..55  sliding steps: 8 directions (N, NE, E, SE, S, SW, W, NW)
//                  times distances 1..7, plane = 7 * direction + distance - 1;
//                  every move that is not a promotion and not a knight jump,
//                  castling included (the king's two-square step);
//   planes 56..63  knight jumps, clockwise from two north one east;
//   planes 64..72  promotions to knight, bishop and rook: 3 * piece + file
//                  step + 1 (file step -1, 0, +1); the from-rank decides the
//                  direction (rank 7 moves north, rank 2 south);
//   planes 73..75  promotions to a queen, 73 + file step + 1.
//
// So a rook's "e7e8" and a pawn's "e7e8q" have different indices. Of the
// 4864 indices 1968 stand for a move; the others stand for none.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "board.h"
#include "chess_move.h"
#include "move_generator.h"

namespace mirelo {

// ---------------------------------------------------------------------------
// Planes

// Element types a plane block can be written in. A flag is 0 or 1 in the
// element's own representation.
enum class PlaneElement : std::uint8_t {
    byte,     // one byte: uint8 or bool
    half,     // IEEE binary16, in the machine's byte order
    single,   // IEEE binary32, in the machine's byte order
};

constexpr std::size_t PLANE_FLAGS = PIECE_NB * SQUARE_NB;

constexpr std::size_t element_size(PlaneElement element) {
    return element == PlaneElement::byte ? 1 : element == PlaneElement::half ? 2 : 4;
}

// Bytes of one position's planes in the given element type.
constexpr std::size_t plane_bytes(PlaneElement element) { return PLANE_FLAGS * element_size(element); }

// Writes the planes of pieces into out, plane_bytes(element) bytes, element
// 64 * piece + square. out needs no particular alignment.
void write_planes(const Pieces& pieces, PlaneElement element, void* out);

// A text of a batch that the FEN reader refused: its index and the failure.
struct FenFailure {
    std::size_t index;
    std::string message;
};

// Writes the planes of the placement fields of the texts one after the other
// into out (texts.size() * plane_bytes(element) bytes). Every text is read
// before anything is written: with a refused text nothing is.
std::optional<FenFailure> write_fen_planes(std::span<const std::string_view> texts, PlaneElement element,
                                           void* out);

// ---------------------------------------------------------------------------
// Move indices

constexpr unsigned MOVE_PLANES = 76;
constexpr std::size_t MOVE_INDEX_SIZE = MOVE_PLANES * 64;
constexpr std::size_t USED_MOVE_INDICES = 1968;

// The index of a move as the generator makes it; its special code tells a
// promotion from a plain step. A move no index stands for is an internal
// failure.
unsigned move_index(ChessMove move);

// The index of a move text in the generator's exact form: four characters
// a..h, 1..8, a..h, 1..8, and for a promotion a fifth, one of n, b, r, q.
// Empty for any other text and for a move the layout has no index for.
std::optional<unsigned> move_index(std::string_view text);

// The text of the move an index stands for, written into out (5 bytes);
// returns its length, or 0 for an index outside the range or unused.
std::size_t move_text(std::size_t index, char* out);

// The legal moves as a mask over the indices: MOVE_INDEX_SIZE bytes, 1 where
// a move of the list has its index, 0 elsewhere.
void write_move_mask(const MoveList& moves, std::uint8_t* out);

// The indices of the moves, in list order, as 64-bit integers into out
// (8 * moves.size bytes, no particular alignment).
void write_move_indices(const MoveList& moves, void* out);

}  // namespace mirelo
