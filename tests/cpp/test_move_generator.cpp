// Attack tables, the attack test, generation order and the legality filter.
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "board.h"
#include "move_generator.h"
#include "positions.h"
#include "reference_moves.h"
#include "support.h"

namespace mirelo {
namespace {

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
    EXPECT_EQ(rook_relevance_mask(SQ_A1), 0x000101010101017EULL);
    EXPECT_EQ(rook_relevance_mask(SQ_H8), 0x7E80808080808000ULL);
    EXPECT_EQ(rook_relevance_mask(SQ_D4), 0x0008080876080800ULL);
    EXPECT_EQ(bishop_relevance_mask(SQ_A1), 0x0040201008040200ULL);
    EXPECT_EQ(bishop_relevance_mask(SQ_H8), 0x0040201008040200ULL);
    EXPECT_EQ(bishop_relevance_mask(SQ_D4), 0x0040221400142200ULL);
    EXPECT_EQ(bishop_relevance_mask(SQ_H1), 0x0002040810204000ULL);
    for (Square s = SQ_A1; s <= SQ_H8; ++s) {
        for (const PieceType slider : {ROOK, BISHOP}) {
            const Magic& magic = attack_tables().magic(s, slider);
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
                ASSERT_EQ(attack_tables().slider_attacks(s, blockers, slider),
                          walked_attacks(s, blockers, slider == ROOK ? ROOK_DIRECTIONS : BISHOP_DIRECTIONS));
                blockers = (blockers - mask) & mask;
            } while (blockers);
            EXPECT_EQ(keys.size(), 1u << n) << s;
        }
    }
}

TEST(Tables, Steps) {
    EXPECT_FALSE(step_target(SQ_A1, -1, 1));
    EXPECT_FALSE(step_target(SQ_H1, 1, 1));
    EXPECT_FALSE(step_target(SQ_B1, 6, 2));
    EXPECT_EQ(step_target(SQ_B1, 17, 2), SQ_C3);
    EXPECT_EQ(attack_tables().slider_attacks(SQ_A1, 0, ROOK), 0x01010101010101FEULL);
    EXPECT_EQ(attack_tables().slider_attacks(SQ_A1, square_bit(SQ_A4), ROOK) & 0x0101010101010100ULL,
              square_bit(SQ_A2) | square_bit(SQ_A3) | square_bit(SQ_A4));
}

TEST(AttackTest, PiecesAttackingSquares) {
    const auto attacked = [](std::string_view fen, Square square, Color by) {
        const Board board = board_of(fen);
        return attack_tables().attacked(board.pieces, square, by, board.occupancy());
    };
    EXPECT_TRUE(attacked("4k3/8/8/8/8/5n2/8/4K3 w - -", SQ_E1, BLACK));
    EXPECT_TRUE(attacked("4k3/8/8/8/8/8/3p4/4K3 w - -", SQ_E1, BLACK));
    EXPECT_TRUE(attacked("4k3/8/8/8/8/8/5p2/4K3 w - -", SQ_E1, BLACK));
    EXPECT_FALSE(attacked("4k3/8/8/8/8/8/4p3/4K3 w - -", SQ_E1, BLACK));
    EXPECT_TRUE(attacked("4k3/8/8/8/4P3/8/8/4K3 b - -", SQ_D5, WHITE));
    EXPECT_TRUE(attacked("4k3/8/8/8/4P3/8/8/4K3 b - -", SQ_F5, WHITE));
    EXPECT_FALSE(attacked("4k3/8/8/8/4P3/8/8/4K3 b - -", SQ_E5, WHITE));
    EXPECT_TRUE(attacked("4r2k/8/8/8/8/8/8/4K3 w - -", SQ_E1, BLACK));
    EXPECT_FALSE(attacked("4r2k/8/8/8/8/8/4B3/4K3 w - -", SQ_E1, BLACK));
    EXPECT_TRUE(attacked("7k/8/8/8/8/8/3k4/4K3 w - -", SQ_E1, BLACK));
    // The king's neighbours, and the attackers named one by one.
    const Board board = board_of("4k3/8/8/8/8/5n2/3p4/r3K3 w - -");
    EXPECT_EQ(attack_tables().attackers_to(board.pieces, SQ_E1, BLACK, board.occupancy()),
              square_bit(SQ_A1) | square_bit(SQ_D2) | square_bit(SQ_F3));
    EXPECT_EQ(attack_tables().attackers_to(board.pieces, SQ_D2, WHITE, board.occupancy()), square_bit(SQ_E1));
}

TEST(Generation, OrderOnTheListedPositions) {
    int listed = 0;
    for (const testing::Position& p : testing::read_positions()) {
        if (!p.lists_moves) continue;
        Board board = board_of(p.fen);
        MoveList list;
        generator().moves(board, list);
        EXPECT_EQ(texts(list), p.moves) << p.name;
        ++listed;
    }
    EXPECT_GE(listed, 20);
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

void expect_filter_matches_reference(Board& board) {
    const std::string fen = board.to_fen();
    const auto key = board.zobrist.z_key;
    const auto depth = board.history.moves();
    const std::vector<ChessMove> expected = testing::reference_moves(generator(), board, [] {});
    MoveList list;
    generator().moves(board, list);
    MoveList reference;
    for (const ChessMove m : expected) reference.push(m.from(), m.to(), m.special());
    ASSERT_EQ(texts(list), texts(reference)) << fen << " info " << board.info;
    ASSERT_TRUE(std::equal(list.begin(), list.end(), expected.begin(), expected.end()));
    // Perft counts the last ply without listing it; the outcome only asks for one.
    ASSERT_EQ(generator().perft(board, 1), expected.size()) << fen << " info " << board.info;
    ASSERT_EQ(generator().has_legal_move(board), !expected.empty()) << fen << " info " << board.info;
    ASSERT_EQ(board.to_fen(), fen);
    ASSERT_EQ(board.zobrist.z_key, key);
    ASSERT_EQ(board.history.moves(), depth);
}

TEST(Legality, FilterEqualsPlayTestTakeBackOnPlayouts) {
    std::mt19937_64 rng(7);
    for (const testing::Position& p : testing::read_positions()) {
        if (p.perft.empty()) continue;
        for (int game = 0; game < 30; ++game) {
            Board board = board_of(p.fen);
            for (int ply = 0; ply < 120; ++ply) {
                expect_filter_matches_reference(board);
                MoveList list;
                generator().moves(board, list);
                if (list.size == 0) break;
                ASSERT_TRUE(board.push(list.moves[rng() % list.size]));
            }
        }
    }
}

// Random placements, also malformed ones: several kings, no king, a square
// held by two pieces, pawns on the edge ranks.
TEST(Legality, FilterEqualsPlayTestTakeBackOnRandomPlacements) {
    std::mt19937_64 rng(11);
    const auto square = [&] { return square_bit(static_cast<Square>(rng() % 64)); };
    for (int trial = 0; trial < 20000; ++trial) {
        Board board = board_of("8/8/8/8/8/8/8/8 w - -");
        const int count = 2 + static_cast<int>(rng() % 20);
        for (int i = 0; i < count; ++i) board.pieces[rng() % 12] |= square();
        if (trial % 2) board.pieces[W_KING] = square(), board.pieces[B_KING] = square();
        board.info = (rng() & 1) | ((rng() & 0xF) << 1) | (std::uint64_t{1} << (5 + rng() % 16));
        board.zobrist = ZobristBoardComponent::make(board.pieces, board.info);
        expect_filter_matches_reference(board);
    }
}

TEST(Perft, PublishedCountsShallow) {
    int counted = 0;
    for (const testing::Position& p : testing::read_positions()) {
        Board board = board_of(p.fen);
        // Up to a hundred thousand nodes or so per position.
        for (std::size_t depth = 1; depth <= p.perft.size() && p.perft[depth - 1] <= 200'000; ++depth, ++counted)
            EXPECT_EQ(generator().perft(board, static_cast<int>(depth)), p.perft[depth - 1]) << p.name << " " << depth;
        EXPECT_TRUE(board.history.empty());
    }
    EXPECT_GE(counted, 15);
}

}  // namespace
}  // namespace mirelo
