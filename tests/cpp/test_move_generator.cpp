// Attack tables, the attack test, generation order and the legality filter.
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "board.h"
#include "move_generator.h"

namespace mirelo {
namespace {

const MoveGenerator& generator() {
    static const MoveGenerator instance;
    return instance;
}

Board board_of(std::string_view fen) { return Board::from_fen(fen).value(); }

std::vector<std::string> texts(const MoveList& list) {
    std::vector<std::string> out;
    for (const ChessMove m : list) out.push_back(m.to_string());
    return out;
}

// A slider's attacks walked square by square: the reference for the tables.
Bitboard walked_attacks(Square square, Bitboard blockers, const std::array<int, 4>& directions) {
    Bitboard attacks = 0;
    for (const int direction : directions) {
        for (auto to = step_target(square, direction, 1); to; to = step_target(*to, direction, 1)) {
            attacks |= square_bit(*to);
            if (has(blockers, *to)) break;
        }
    }
    return attacks;
}

TEST(Tables, MasksAndOneToOneKeys) {
    EXPECT_EQ(rook_relevance_mask(0), 0x000101010101017EULL);
    EXPECT_EQ(rook_relevance_mask(63), 0x7E80808080808000ULL);
    EXPECT_EQ(rook_relevance_mask(27), 0x0008080876080800ULL);
    EXPECT_EQ(bishop_relevance_mask(0), 0x0040201008040200ULL);
    EXPECT_EQ(bishop_relevance_mask(63), 0x0040201008040200ULL);
    EXPECT_EQ(bishop_relevance_mask(27), 0x0040221400142200ULL);
    EXPECT_EQ(bishop_relevance_mask(7), 0x0002040810204000ULL);
    for (Square s = 0; s < 64; ++s) {
        for (const PieceType slider : {ROOK, BISHOP}) {
            const Magic& magic = generator().magic(s, slider);
            const Bitboard mask = slider == ROOK ? rook_relevance_mask(s) : bishop_relevance_mask(s);
            ASSERT_EQ(magic.mask, mask);
            const int n = std::popcount(mask);
            ASSERT_EQ(magic.shift, 64u - static_cast<unsigned>(n)) << s;
            std::set<unsigned> keys;
            // Every subset of the mask.
            Bitboard blockers = 0;
            do {
                const unsigned key = magic.index(blockers);
                ASSERT_LT(key, 1u << n);
                keys.insert(key);
                ASSERT_EQ(generator().slider_attacks(s, blockers, slider),
                          walked_attacks(s, blockers, slider == ROOK ? ROOK_DIRECTIONS : BISHOP_DIRECTIONS));
                blockers = (blockers - mask) & mask;
            } while (blockers);
            EXPECT_EQ(keys.size(), 1u << n) << s;
        }
    }
}

TEST(Tables, Steps) {
    EXPECT_FALSE(step_target(0, -1, 1));
    EXPECT_FALSE(step_target(7, 1, 1));
    EXPECT_FALSE(step_target(1, 6, 2));
    EXPECT_EQ(step_target(1, 17, 2), 18u);
    EXPECT_EQ(generator().slider_attacks(0, 0, ROOK), 0x01010101010101FEULL);
    EXPECT_EQ(generator().slider_attacks(0, square_bit(24), ROOK) & 0x0101010101010100ULL,
              square_bit(8) | square_bit(16) | square_bit(24));
}

TEST(AttackTest, PiecesAttackingSquares) {
    const auto attacked = [](std::string_view fen, Square square, Color by) {
        const Board board = board_of(fen);
        return generator().attacked(board.pieces, square, by, board.occupancy());
    };
    EXPECT_TRUE(attacked("4k3/8/8/8/8/5n2/8/4K3 w - -", 4, BLACK));
    EXPECT_TRUE(attacked("4k3/8/8/8/8/8/3p4/4K3 w - -", 4, BLACK));
    EXPECT_TRUE(attacked("4k3/8/8/8/8/8/5p2/4K3 w - -", 4, BLACK));
    EXPECT_FALSE(attacked("4k3/8/8/8/8/8/4p3/4K3 w - -", 4, BLACK));
    EXPECT_TRUE(attacked("4k3/8/8/8/4P3/8/8/4K3 b - -", 35, WHITE));
    EXPECT_TRUE(attacked("4k3/8/8/8/4P3/8/8/4K3 b - -", 37, WHITE));
    EXPECT_FALSE(attacked("4k3/8/8/8/4P3/8/8/4K3 b - -", 36, WHITE));
    EXPECT_TRUE(attacked("4r2k/8/8/8/8/8/8/4K3 w - -", 4, BLACK));
    EXPECT_FALSE(attacked("4r2k/8/8/8/8/8/4B3/4K3 w - -", 4, BLACK));
    EXPECT_TRUE(attacked("7k/8/8/8/8/8/3k4/4K3 w - -", 4, BLACK));
    // The king's neighbours, and the attackers named one by one.
    const Board board = board_of("4k3/8/8/8/8/5n2/3p4/r3K3 w - -");
    EXPECT_EQ(generator().attackers_to(board.pieces, 4, BLACK, board.occupancy()),
              square_bit(0) | square_bit(11) | square_bit(21));
    EXPECT_EQ(generator().attackers_to(board.pieces, 11, WHITE, board.occupancy()), square_bit(4));
}

TEST(Generation, OrderOnTheListedPositions) {
    auto legal = [](std::string_view fen) {
        Board board = board_of(fen);
        MoveList list;
        generator().moves(board, list);
        return texts(list);
    };
    using V = std::vector<std::string>;
    EXPECT_EQ(legal(DEFAULT_FEN), (V{"b1c3", "b1a3", "g1h3", "g1f3", "a2a3", "a2a4", "b2b3", "b2b4", "c2c3", "c2c4",
                                     "d2d3", "d2d4", "e2e3", "e2e4", "f2f3", "f2f4", "g2g3", "g2g4", "h2h3", "h2h4"}));
    EXPECT_EQ(legal("r3k2r/8/8/8/8/8/8/R3K2R w KQkq -"),
              (V{"e1e2", "e1f1", "e1d1", "e1f2", "e1d2", "e1g1", "e1c1", "a1b1", "a1c1", "a1d1", "a1a2", "a1a3",
                 "a1a4", "a1a5", "a1a6", "a1a7", "a1a8", "h1f1", "h1g1", "h1h2", "h1h3", "h1h4", "h1h5", "h1h6",
                 "h1h7", "h1h8"}));
    EXPECT_EQ(legal("4k3/8/8/3pP3/8/8/8/4K3 w - d6"),
              (V{"e1e2", "e1f1", "e1d1", "e1f2", "e1d2", "e5d6", "e5e6"}));
    EXPECT_EQ(legal("4k3/1P6/8/8/8/8/8/4K3 w - -"),
              (V{"e1e2", "e1f1", "e1d1", "e1f2", "e1d2", "b7b8n", "b7b8b", "b7b8r", "b7b8q"}));
    EXPECT_EQ(legal("4r2k/8/8/8/8/8/4B3/4K3 w - -"), (V{"e1f1", "e1d1", "e1f2", "e1d2"}));
    EXPECT_EQ(legal("4k3/8/8/KPp4r/8/8/8/8 w - c6"), (V{"a5a4", "a5a6", "a5b6", "b5b6"}));
    EXPECT_EQ(legal("7k/5Q2/6K1/8/8/8/8/8 b - -"), V{});  // stalemate
    EXPECT_EQ(legal("7k/6Q1/6K1/8/8/8/8/8 b - -"), V{});   // checkmate
}

TEST(Generation, PseudoLegalSpecialCases) {
    auto pseudo = [](std::string_view fen) {
        MoveList list;
        generator().pseudo_moves(board_of(fen), list);
        return texts(list);
    };
    // En passant flag onto an occupied square: the capture, then en passant.
    const auto both = pseudo("4k3/8/3n4/4P3/8/8/8/4K3 w - d6");
    EXPECT_EQ(std::count(both.begin(), both.end(), "e5d6"), 2);
    MoveList list;
    generator().pseudo_moves(board_of("4k3/8/8/KPp4r/8/8/8/8 w - c6"), list);
    EXPECT_EQ(texts(list), (std::vector<std::string>{"a5a4", "a5a6", "a5b6", "a5b4", "b5c6", "b5b6"}));
    EXPECT_EQ(list.moves[4].special(), EN_PASSANT);
    // Castling squares: b1 only needs to be empty; rights without a rook still castle.
    const auto attacked_b1 = pseudo("4k3/8/8/8/8/8/8/Rr2K3 w Q -");
    EXPECT_EQ(std::count(attacked_b1.begin(), attacked_b1.end(), "e1c1"), 0);
    const auto no_rook = pseudo("4k3/8/8/8/8/8/8/4K3 w KQ -");
    EXPECT_EQ(std::count(no_rook.begin(), no_rook.end(), "e1g1"), 1);
    EXPECT_EQ(std::count(no_rook.begin(), no_rook.end(), "e1c1"), 1);
    const auto b1_attacked_only = pseudo("4k3/8/8/8/8/n7/8/R3K3 w Q -");
    EXPECT_EQ(std::count(b1_attacked_only.begin(), b1_attacked_only.end(), "e1c1"), 1);
}

// The filter as literally described: play, test the mover's king, take back.
// A move the board refuses to play (possible only on malformed placements) is
// not legal, so every listed move is accepted by push.
std::vector<ChessMove> reference_moves(Board& board) {
    MoveList pseudo;
    generator().pseudo_moves(board, pseudo);
    std::vector<ChessMove> legal;
    for (const ChessMove move : pseudo) {
        try {
            if (!board.push(move)) continue;
        } catch (const Failure&) {
            continue;
        }
        const bool valid = !generator().king_attacked(board.pieces, ~board.side_to_move());
        board.pop_move();
        if (valid) legal.push_back(move);
    }
    return legal;
}

void expect_filter_matches_reference(Board& board) {
    const std::string fen = board.to_fen();
    const auto key = board.zobrist.z_key;
    const auto depth = board.move_stack.size();
    const std::vector<ChessMove> expected = reference_moves(board);
    MoveList list;
    generator().moves(board, list);
    MoveList reference;
    for (const ChessMove m : expected) reference.push(m.from(), m.to(), m.special());
    ASSERT_EQ(texts(list), texts(reference)) << fen << " info " << board.info;
    ASSERT_TRUE(std::equal(list.begin(), list.end(), expected.begin(), expected.end()));
    // Perft counts the last ply without listing it.
    ASSERT_EQ(generator().perft(board, 1), expected.size()) << fen << " info " << board.info;
    ASSERT_EQ(board.to_fen(), fen);
    ASSERT_EQ(board.zobrist.z_key, key);
    ASSERT_EQ(board.move_stack.size(), depth);
}

TEST(Legality, FilterEqualsPlayTestTakeBackOnPlayouts) {
    std::mt19937_64 rng(7);
    for (const char* fen : {DEFAULT_FEN.data(), "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -",
                            "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - -",
                            "rnbq1k1r/pp1Pbppp/2p5/8/2B5/8/PPP1NnPP/RNBQK2R w KQ -"}) {
        for (int game = 0; game < 30; ++game) {
            Board board = board_of(fen);
            for (int ply = 0; ply < 120; ++ply) {
                expect_filter_matches_reference(board);
                MoveList list;
                generator().moves(board, list);
                if (list.size == 0) break;
                board.push_move(list.moves[rng() % list.size]);
            }
        }
    }
}

// Random placements, also malformed ones: several kings, no king, a square
// held by two pieces, pawns on the edge ranks.
TEST(Legality, FilterEqualsPlayTestTakeBackOnRandomPlacements) {
    std::mt19937_64 rng(11);
    for (int trial = 0; trial < 20000; ++trial) {
        Board board = board_of("8/8/8/8/8/8/8/8 w - -");
        const int count = 2 + static_cast<int>(rng() % 20);
        for (int i = 0; i < count; ++i) board.pieces[rng() % 12] |= square_bit(rng() % 64);
        if (trial % 2) board.pieces[5] = square_bit(rng() % 64), board.pieces[11] = square_bit(rng() % 64);
        board.info = (rng() & 1) | ((rng() & 0xF) << 1) | (std::uint64_t{1} << (5 + rng() % 16));
        board.zobrist = ZobristBoardComponent::make(board.pieces, board.info);
        expect_filter_matches_reference(board);
    }
}

TEST(Perft, PublishedCountsShallow) {
    struct Case {
        const char* fen;
        std::vector<std::uint64_t> counts;
    };
    for (const Case& c : {Case{DEFAULT_FEN.data(), {20, 400, 8902, 197281}},
                          Case{"r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -", {48, 2039, 97862}},
                          Case{"8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - -", {14, 191, 2812, 43238}},
                          Case{"r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq -", {6, 264, 9467}},
                          Case{"rnbq1k1r/pp1Pbppp/2p5/8/2B5/8/PPP1NnPP/RNBQK2R w KQ -", {44, 1486, 62379}}}) {
        Board board = board_of(c.fen);
        for (std::size_t depth = 1; depth <= c.counts.size(); ++depth)
            EXPECT_EQ(generator().perft(board, static_cast<int>(depth)), c.counts[depth - 1]) << c.fen << " " << depth;
        EXPECT_TRUE(board.move_stack.empty());
    }
}

}  // namespace
}  // namespace mirelo
