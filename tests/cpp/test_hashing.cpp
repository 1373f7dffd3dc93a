// The deterministic generator, the feature tables and the running keys.
#include <gtest/gtest.h>

#include <random>

#include "board.h"
#include "positions.h"
#include "random.h"
#include "zobrist.h"

namespace mirelo {
namespace {

TEST(Rng, SequencesForBothTables) {
    Rng r64 = Rng::new_deterministic(0, 9);
    EXPECT_EQ(r64.random(), 0x0u);
    EXPECT_EQ(r64.random(), 0x6B864CBF6B864CBFu);
    EXPECT_EQ(r64.random(), 0x18C7B858D8C7u);
    EXPECT_EQ(r64.random(), 0x2965A2212965A221u);

    Rng r16 = Rng::new_deterministic(404, 3);
    EXPECT_EQ(r16.random(), 0xC2AA9E53D2AA9Eu);
    EXPECT_EQ(r16.random(), 0x2FF4A4F1BFF4u);
    EXPECT_EQ(r16.random(), 0x14A167ECDDA16u);
    EXPECT_EQ(r16.random(), 0x3E40BBED7Eu);
}

TEST(Zobrist, FeatureCheckValues) {
    const auto z64 = ZobristTable64::make(0);
    const auto z16 = ZobristTable16::make(404);
    EXPECT_EQ(z64.features[0], 0u);
    EXPECT_EQ(z64.features[1], 0x6B864CBF6B864CBFu);
    EXPECT_EQ(z64.features[768], 0x71EDE8CD71EDE8CDu);
    EXPECT_EQ(z64.features[789], 0x873A0800E73A080u);
    EXPECT_EQ(z16.features[0], 0xAA9E);
    EXPECT_EQ(z16.features[1], 0xBFF4);
    EXPECT_EQ(z16.features[768], 0x66AA);
    EXPECT_EQ(z16.features[789], 0x25CC);
}

TEST(Zobrist, StartPositionKeys) {
    const Board board = Board::from_fen(DEFAULT_FEN).value();
    EXPECT_EQ(board.info, 0x1Fu);
    EXPECT_EQ(board.zobrist.z_key, 0x667057D6B81EBFB3u);
    EXPECT_EQ(board.zobrist.z_key16, 0xE592);
}

TEST(Zobrist, EmptyBoardBlackToMoveHasZeroKeys) {
    const Board board = Board::from_fen("8/8/8/8/8/8/8/8 b - -").value();
    EXPECT_EQ(board.zobrist.z_key, 0u);
    EXPECT_EQ(board.zobrist.z_key16, 0);
}

TEST(Zobrist, WhitePawnOnA1ChangesOnlyTheSmallKey) {
    const Board without = Board::from_fen("8/8/8/8/8/8/8/8 b - -").value();
    const Board with = Board::from_fen("8/8/8/8/8/8/8/P7 b - -").value();
    EXPECT_EQ(with.zobrist.z_key, without.zobrist.z_key);
    EXPECT_EQ(with.zobrist.z_key16, 0xAA9E);
}

void expect_keys_match_position(const Board& board) {
    const auto [key, key16] = zobrist_keys(*board.zobrist.z64, *board.zobrist.z16, board.pieces, board.info);
    EXPECT_EQ(board.zobrist.z_key, key) << board.to_fen();
    EXPECT_EQ(board.zobrist.z_key16, key16) << board.to_fen();
}

TEST(Zobrist, KeysOfFenBoardsEqualRecomputation) {
    std::vector<std::string> fens = {"rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3",
                                     "8/8/8/8/8/8/8/8 w - 1",  // sets info bit 21
                                     "p7/8/8/8/8/8/8/8/8 b Qk e6"};
    for (const testing::Position& p : testing::read_positions()) fens.push_back(p.fen);
    for (const std::string& fen : fens) {
        const Board board = Board::from_fen(fen).value();
        expect_keys_match_position(board);
        // The shared tables are the ones the seeds give.
        EXPECT_EQ(board.zobrist.z64->features, ZobristTable64::make(0).features);
        EXPECT_EQ(board.zobrist.z16->features, ZobristTable16::make(404).features);
    }
}

TEST(Zobrist, OnePairOfTablesServesEveryBoard) {
    const Board board = Board::from_fen(DEFAULT_FEN).value();
    const Board other = Board::from_fen("8/8/8/8/8/8/8/8 b - -").value();
    const Board copy = board;
    for (const Board* b : {&other, &copy}) {
        EXPECT_EQ(b->zobrist.z64, board.zobrist.z64);
        EXPECT_EQ(b->zobrist.z16, board.zobrist.z16);
    }
    EXPECT_EQ(copy.zobrist.z_key, board.zobrist.z_key);
}

}  // namespace
}  // namespace mirelo
