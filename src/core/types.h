// The vocabulary of the core: colours, piece types, pieces and squares.
//
// A piece is its type, plus 6 for black; the twelve pieces index the board's
// bitboards. A square is rank * 8 + file (a1 = 0, h1 = 7, a8 = 56, h8 = 63).
#pragma once

namespace mirelo {

enum Color : unsigned { WHITE, BLACK };

constexpr Color operator~(Color c) { return static_cast<Color>(c ^ BLACK); }

enum PieceType : unsigned { PAWN, KNIGHT, BISHOP, ROOK, QUEEN, KING };

constexpr unsigned PIECE_TYPE_NB = 6;

enum Piece : unsigned {
    W_PAWN, W_KNIGHT, W_BISHOP, W_ROOK, W_QUEEN, W_KING,
    B_PAWN, B_KNIGHT, B_BISHOP, B_ROOK, B_QUEEN, B_KING,
    NO_PIECE,  // an empty square, or a part a move does not have
};

constexpr unsigned PIECE_NB = 12;
constexpr char PIECE_LETTERS[] = "PNBRQKpnbrqk";  // by piece

constexpr Piece make_piece(Color c, PieceType t) { return static_cast<Piece>(PIECE_TYPE_NB * c + t); }
constexpr Color color_of(Piece p) { return p < B_PAWN ? WHITE : BLACK; }
constexpr PieceType type_of(Piece p) { return static_cast<PieceType>(p % PIECE_TYPE_NB); }

constexpr Piece& operator++(Piece& p) { return p = static_cast<Piece>(p + 1); }

enum Square : unsigned {
    SQ_A1, SQ_B1, SQ_C1, SQ_D1, SQ_E1, SQ_F1, SQ_G1, SQ_H1,
    SQ_A2, SQ_B2, SQ_C2, SQ_D2, SQ_E2, SQ_F2, SQ_G2, SQ_H2,
    SQ_A3, SQ_B3, SQ_C3, SQ_D3, SQ_E3, SQ_F3, SQ_G3, SQ_H3,
    SQ_A4, SQ_B4, SQ_C4, SQ_D4, SQ_E4, SQ_F4, SQ_G4, SQ_H4,
    SQ_A5, SQ_B5, SQ_C5, SQ_D5, SQ_E5, SQ_F5, SQ_G5, SQ_H5,
    SQ_A6, SQ_B6, SQ_C6, SQ_D6, SQ_E6, SQ_F6, SQ_G6, SQ_H6,
    SQ_A7, SQ_B7, SQ_C7, SQ_D7, SQ_E7, SQ_F7, SQ_G7, SQ_H7,
    SQ_A8, SQ_B8, SQ_C8, SQ_D8, SQ_E8, SQ_F8, SQ_G8, SQ_H8,
    SQ_NONE,  // off the board
};

constexpr unsigned SQUARE_NB = 64;

constexpr bool is_ok(Square s) { return s <= SQ_H8; }

constexpr Square make_square(unsigned file, unsigned rank) { return static_cast<Square>(8 * rank + file); }
constexpr unsigned rank_of(Square s) { return s >> 3; }
constexpr unsigned file_of(Square s) { return s & 7; }

constexpr Square& operator++(Square& s) { return s = static_cast<Square>(s + 1); }
constexpr Square operator+(Square s, int delta) { return static_cast<Square>(static_cast<int>(s) + delta); }
constexpr Square operator-(Square s, int delta) { return s + -delta; }

// The square delta away from s in the numbering, or SQ_NONE below a1 or
// beyond h8. Only the ranks end there: a step across the side edge lands on
// the other side, one rank further.
constexpr Square offset_square(Square s, int delta) {
    const int to = static_cast<int>(s) + delta;
    return to >= 0 && to < static_cast<int>(SQUARE_NB) ? static_cast<Square>(to) : SQ_NONE;
}

}  // namespace mirelo
