// Repetitions over the undo stacks, the outcome and the move-path counts.
#include <gtest/gtest.h>

#include <random>

#include "board.h"
#include "game.h"
#include "move_generator.h"
#include "positions.h"
#include "reference_repetitions.h"
#include "support.h"

namespace mirelo {
namespace {

void play(Board& board, std::initializer_list<const char*> moves) {
    for (const char* text : moves) ASSERT_TRUE(board.push(ChessMove::from_str(text).value()));
}

TEST(Repetitions, WalkTheUndoStacksWithoutChangingThem) {
    Board board = board_of(DEFAULT_FEN);
    for (int i = 0; i < 3; ++i) play(board, {"g1f3", "g8f6", "f3g1", "f6g8"});
    const History history = board.history;
    const auto key = board.zobrist.z_key;
    EXPECT_EQ(repetitions(board), 4u);
    EXPECT_EQ(board.history, history);
    EXPECT_EQ(board.zobrist.z_key, key);
    board.pop_move();
    EXPECT_EQ(repetitions(board), 3u);
}

TEST(Repetitions, APawnTakenBackReopensTheHistory) {
    Board board = board_of(DEFAULT_FEN);
    play(board, {"e2e4", "g8f6", "e4e2", "f6g8"});
    EXPECT_EQ(repetitions(board), 2u);
    play(board, {"e2e4", "e7e5", "e4e2", "e5e7"});
    EXPECT_EQ(repetitions(board), 3u);
}

TEST(Repetitions, AsManyAsTakingEveryMoveBackFinds) {
    // Random games in which moves are also taken back as typed moves: pawns
    // stepping backwards, pieces of the side not to move, captures undone
    // only in part. The search stops at the last move no later one undoes.
    std::mt19937_64 rng(11);
    unsigned repeated = 0;
    for (const testing::Position& p : testing::read_positions()) {
        for (int game = 0; game < 8; ++game) {
            Board board = board_of(p.fen);
            std::vector<ChessMove> played;
            for (int ply = 0; ply < 80; ++ply) {
                MoveList list;
                generator().moves(board, list);
                const auto choice = rng() % 10;
                if (choice < 5 && list.size) {
                    played.push_back(list.moves[rng() % list.size]);
                    ASSERT_TRUE(board.push(played.back()));
                } else if (choice < 9 && !played.empty()) {
                    // Back from where one of the last four moves went.
                    const ChessMove m = played[played.size() - 1 - rng() % std::min<std::size_t>(played.size(), 4)];
                    const ChessMove back = ChessMove::raw(m.to(), m.from(), ORDINARY);
                    if (has(board.occupancy(), back.from()) && board.push(back)) played.push_back(back);
                } else if (!played.empty()) {
                    board.pop_move();
                    played.pop_back();
                }
                const unsigned count = repetitions(board);
                ASSERT_EQ(count, testing::reference_repetitions(board)) << p.name << " " << board.to_fen();
                repeated += count > 1;
            }
        }
    }
    EXPECT_GT(repeated, 200u);
}

TEST(Repetitions, AHistoryOutOfStepWithItsRecordsIsAnInternalFailure) {
    // Lent storage is the lender's memory: a record written over there names
    // more saved words than the history holds.
    std::uint64_t words[16];
    Board board = board_of(DEFAULT_FEN).lent_copy(words, 16);
    play(board, {"g1f3"});
    ASSERT_EQ(board.history.size(), 2u);
    words[1] = ~std::uint64_t{0};
    EXPECT_THROW(repetitions(board), Failure);
    EXPECT_THROW(board.pop_move(), Failure);
}

TEST(Outcome, PriorityAndBoardUnchanged) {
    struct Case {
        const char* fen;
        Outcome expected;
    };
    for (const Case& c : {
             Case{"rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq -", Outcome::checkmate},
             Case{"7k/5Q2/6K1/8/8/8/8/8 b - -", Outcome::stalemate},
             Case{"7k/8/6KN/8/8/8/8/8 b - -", Outcome::insufficient_material},
             Case{"4k3/8/8/8/8/8/8/4KB2 w - -", Outcome::insufficient_material},
             Case{"4k3/8/8/8/8/8/8/2B1KB2 w - -", Outcome::none},
             Case{DEFAULT_FEN.data(), Outcome::none},
         }) {
        Board board = board_of(c.fen);
        const std::string before = board.to_fen();
        EXPECT_EQ(outcome(generator(), board), c.expected) << c.fen;
        EXPECT_EQ(board.to_fen(), before);
        EXPECT_TRUE(board.history.empty());
    }
}

TEST(Perft, DivideSumsToPerftAndLeavesTheBoard) {
    Board board = board_of("8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - -");
    const auto key = board.zobrist.z_key;
    const auto rows = divide(generator(), board, 4);
    std::uint64_t total = 0;
    for (const auto& row : rows) total += row.second;
    EXPECT_EQ(total, 43238u);
    EXPECT_EQ(perft(generator(), board, 4), 43238u);
    EXPECT_EQ(rows.size(), 14u);
    EXPECT_TRUE(divide(generator(), board, 0).empty());
    EXPECT_EQ(perft(generator(), board, 0), 1u);
    EXPECT_EQ(board.zobrist.z_key, key);
    EXPECT_TRUE(board.history.empty());
}

TEST(Reflect, RecomputesTheKeys) {
    Board board = board_of("r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -");
    play(board, {"a2a4"});
    board.reflect();
    const Board fresh = board_of(board.to_fen());
    EXPECT_EQ(board.zobrist.z_key, fresh.zobrist.z_key);
    EXPECT_EQ(board.zobrist.z_key16, fresh.zobrist.z_key16);
}

}  // namespace
}  // namespace mirelo
