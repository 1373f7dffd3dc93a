// Move values, and making and unmaking moves on the core board.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

#include "board.h"
#include "chess_move.h"
#include "move_generator.h"
#include "positions.h"

namespace mirelo {
namespace {

ChessMove parse(std::string_view text) { return ChessMove::from_str(text).value(); }

std::string parse_error(std::string_view text) { return ChessMove::from_str(text).error(); }

std::string failure_of(auto&& body) {
    try {
        body();
    } catch (const Failure& failure) {
        return failure.message();
    }
    return "<no failure>";
}

TEST(ChessMove, ParsesAndWrites) {
    const ChessMove e2e4 = parse("e2e4");
    EXPECT_EQ(e2e4.from(), 12u);
    EXPECT_EQ(e2e4.to(), 28u);
    EXPECT_EQ(e2e4.special(), 0u);
    EXPECT_EQ(e2e4.data, 1804);
    EXPECT_EQ(e2e4.to_string(), "e2e4");

    const ChessMove promotion = parse(" e7e8q\n");
    EXPECT_EQ(promotion.from(), 52u);
    EXPECT_EQ(promotion.to(), 60u);
    EXPECT_EQ(promotion.special(), 7u);
    EXPECT_EQ(parse("e7e8N").to_string(), "e7e8n");
    EXPECT_EQ(parse("\u3000e7e8Q\u2029").to_string(), "e7e8q");

    EXPECT_EQ(ChessMove{0x3184}.to_string(), "e1g1");
    EXPECT_EQ(ChessMove{0x3084}.to_string(), "e1c1");
    EXPECT_EQ(ChessMove{0x3FBC}.to_string(), "e8g8");
    EXPECT_EQ(ChessMove{0x3EBC}.to_string(), "e8c8");
}

TEST(ChessMove, ErrorTextsAndFailuresInOrder) {
    const std::string length = "Unsupported move notation. Must be 4 or 5 (promotion) characters. Found: ";
    EXPECT_EQ(parse_error("e2e"), length + "e2e");
    EXPECT_EQ(parse_error(""), length);
    EXPECT_EQ(parse_error("e2e4qq"), length + "e2e4qq");
    EXPECT_EQ(parse_error("e7e8k"), "Unsupported promotion type for e7e8k");
    EXPECT_EQ(parse_error("e2e44"), "Unsupported promotion type for e2e44");
    EXPECT_EQ(parse_error("z9z9x"), "Unsupported promotion type for z9z9x");

    EXPECT_EQ(failure_of([] { ChessMove::from_str("i2e4"); }), "assertion failed: from_file <= 7");
    EXPECT_EQ(failure_of([] { ChessMove::from_str("E2E4"); }), "assertion failed: from_file <= 7");
    EXPECT_EQ(failure_of([] { ChessMove::from_str("e9e4"); }), "assertion failed: from_rank <= 7");
    EXPECT_EQ(failure_of([] { ChessMove::from_str("e0e4"); }), "assertion failed: from_rank <= 7");
    EXPECT_EQ(failure_of([] { ChessMove::from_str("e2z4"); }), "assertion failed: to_file <= 7");
    EXPECT_EQ(failure_of([] { ChessMove::from_str("e2e9"); }), "assertion failed: to_rank <= 7");
    // Two characters of two bytes each: the from-checks run before the missing third.
    EXPECT_EQ(failure_of([] { ChessMove::from_str("\u0161\u0139"); }), "assertion failed: from_rank <= 7");
    EXPECT_EQ(failure_of([] { ChessMove::from_str("\U0001F600"); }),
              "Move text has fewer than four characters: \U0001F600");
}

TEST(ChessMove, CheckedConstruction) {
    EXPECT_EQ(failure_of([] { ChessMove::make(64, 0, 0); }), "Invalid FROM int");
    EXPECT_EQ(failure_of([] { ChessMove::make(0, 64, 0); }), "Invalid TO int");
    EXPECT_EQ(failure_of([] { ChessMove::make(0, 0, 16); }), "Invalid SPECIAL int");
    EXPECT_THROW(ChessMove::make(12, 28, 8).to_string(), Failure);
}

Board board_of(std::string_view fen) { return Board::from_fen(fen).value(); }

void expect_keys_match_position(const Board& board) {
    const auto [key, key16] = zobrist_keys(*board.zobrist.z64, *board.zobrist.z16, board.pieces, board.info);
    ASSERT_EQ(board.zobrist.z_key, key) << board.to_fen();
    ASSERT_EQ(board.zobrist.z_key16, key16) << board.to_fen();
}

void expect_same(const Board& a, const Board& b) {
    EXPECT_EQ(a.pieces, b.pieces);
    EXPECT_EQ(a.info, b.info);
    EXPECT_EQ(a.zobrist.z_key, b.zobrist.z_key);
    EXPECT_EQ(a.zobrist.z_key16, b.zobrist.z_key16);
    EXPECT_EQ(a.history, b.history);
}

// The bitboards the last move saved.
std::vector<Bitboard> last_saved(const Board& board) {
    std::vector<Bitboard> words;
    board.history.visit_back([&](const MoveRecord& record, const Bitboard* saved) {
        words.assign(saved, saved + count_squares(record.saved));
        return false;
    });
    return words;
}

TEST(PushPop, E2E4RecordsAndKeys) {
    Board board = board_of(DEFAULT_FEN);
    const Board start = board;
    ASSERT_TRUE(board.push(parse("e2e4")));
    EXPECT_EQ(board.pieces[0], 0xFF00u ^ (1u << 12) ^ (1u << 28));
    EXPECT_EQ(board.info, 0x2001Eu);
    ASSERT_EQ(board.history.moves(), 1u);
    EXPECT_EQ(board.history.back().info, 0x1Fu);
    EXPECT_EQ(board.history.back().saved, 0x001);
    EXPECT_EQ(last_saved(board), std::vector<Bitboard>{0xFF00});
    EXPECT_EQ(board.zobrist.z_key, 0x16C463C54535BBA0u);
    EXPECT_EQ(board.zobrist.z_key16, 0xBAA1);

    ASSERT_TRUE(board.push(parse("d7d5")));
    EXPECT_EQ(board.info, 0x11Fu);  // bit 17 cleared, bit 8 (d-file for white) and side set
    ASSERT_TRUE(board.push(parse("e4d5")));
    EXPECT_EQ(board.history.back().saved, 0x041);
    EXPECT_FALSE(has(board.pieces[B_PAWN], SQ_D5));
    for (int i = 0; i < 3; ++i) board.pop_move();
    expect_same(board, start);
}

TEST(PushPop, SpecialMovesSaveTheirWords) {
    Board ep = board_of("4k3/8/8/3pP3/8/8/8/4K3 w - d6");
    ASSERT_TRUE(ep.push(parse("e5d6")));
    EXPECT_EQ(ep.history.back().saved, 0x041);
    EXPECT_FALSE(has(ep.pieces[B_PAWN], SQ_D5));
    EXPECT_EQ(ep.info & EN_PASSANT_MASK, 0u);

    for (const ChessMove castle : {parse("e1g1"), ChessMove{0x3184}}) {
        Board board = board_of("4k3/8/8/8/8/8/8/4K2R w K -");
        ASSERT_TRUE(board.push(castle));
        EXPECT_EQ(board.pieces[W_KING], square_bit(SQ_G1));
        EXPECT_EQ(board.pieces[W_ROOK], square_bit(SQ_F1));
        EXPECT_EQ(board.info & 0x1E, 0u);
        EXPECT_EQ(board.history.back().saved, 0x028);
    }

    Board promotion = board_of("3rk3/4P3/8/8/8/8/8/4K3 w - -");
    ASSERT_TRUE(promotion.push(parse("e7d8n")));
    EXPECT_EQ(promotion.history.back().saved, 0x203);
    EXPECT_EQ(promotion.pieces[W_KNIGHT], square_bit(SQ_D8));
}

TEST(PushPop, RefusalsChangeNothing) {
    Board board = board_of(DEFAULT_FEN);
    const Board start = board;
    EXPECT_EQ(failure_of([&] { board.pop_move(); }), "No move to take back");
    EXPECT_EQ(failure_of([&] { (void)board.push(parse("e3e4")); }), "No piece to move on e3");
    EXPECT_EQ(board.push(parse("e1e2")).error(), "Destination holds a piece of the moving side: e1e2");
    expect_same(board, start);

    Board pawn = board_of("4k3/4P3/8/8/8/8/8/4K3 w - -");
    const Board before = pawn;
    EXPECT_EQ(pawn.push(parse("e7e8")).error(), "Promotion piece needed for e7e8 (add n, b, r or q)");
    expect_same(pawn, before);
}

// Moves no generator produces still keep the stacks consistent and the keys
// equal to the position's.
TEST(PushPop, UnusualMovesKeepKeysExact) {
    for (const auto& [fen, text] : std::vector<std::pair<const char*, const char*>>{
             {"4k3/8/8/8/8/8/8/4K3 w K -", "e1g1"},        // castling rights, no rook
             {"4k3/8/8/8/4K3/8/8/7R w - -", "e4g4"},       // not castling
             {"4k3/8/8/8/8/8/3P4/4K3 w - -", "d2e3"},      // diagonal onto nothing
             {"4k3/8/8/8/8/8/1P6/4K3 w - -", "b2a1q"},     // backwards to the first rank
             {"4k2r/8/8/8/8/8/8/4K3 w k -", "e8g8"},       // black castles out of turn
             {"8/8/8/8/8/8/8/8 w - m", "a1a1"},            // nothing to move
             {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -", "e7e5"}}) {
        Board board = board_of(fen);
        const Board start = board;
        try {
            if (!board.push(parse(text))) continue;
        } catch (const Failure&) {
            expect_same(board, start);
            continue;
        }
        expect_keys_match_position(board);
        board.pop_move();
        expect_same(board, start);
    }
}

// Lends a board's history larger storage whenever the next move may not fit,
// as a face whose collector owns the memory does.
struct Lender {
    std::unique_ptr<std::uint64_t[]> room;

    void make_room(Board& board) {
        if (board.history.has_room()) return;
        const std::size_t capacity = board.history.wanted_capacity();
        auto larger = std::make_unique<std::uint64_t[]>(capacity);
        board.history.lend(larger.get(), capacity);
        room = std::move(larger);  // the words have moved: the old room may go
    }
};

// Long random sequences of generator moves, with take-backs mixed in: the keys
// always equal a from-scratch recomputation and unwinding restores everything,
// whether the history owns its storage or grows in lent storage.
TEST(PushPop, RandomSequencesKeepKeysAndUndoExactly) {
    const MoveGenerator generator;
    std::mt19937_64 rng(20261208);
    for (const testing::Position& p : testing::read_positions()) {
        if (p.perft.empty()) continue;
        for (int game = 0; game < 12; ++game) {
            const bool lent = game % 2;
            Lender lender;
            Board board = lent ? board_of(p.fen).lent_copy(nullptr, 0) : board_of(p.fen);
            const Board start = board;
            std::vector<Board> history;
            for (int ply = 0; ply < 200; ++ply) {
                MoveList moves;
                generator.moves(board, moves);
                if (moves.size == 0 || (rng() % 7 == 0 && !history.empty())) {
                    if (history.empty()) break;
                    board.pop_move();
                    expect_same(board, history.back());
                    history.pop_back();
                    continue;
                }
                history.push_back(board);
                if (lent) lender.make_room(board);
                ASSERT_TRUE(board.push(moves.moves[rng() % moves.size]));
                expect_keys_match_position(board);
            }
            while (!history.empty()) {
                board.pop_move();
                history.pop_back();
            }
            expect_same(board, start);
        }
    }
}

TEST(History, LentStorageNeverGrowsByItself) {
    std::uint64_t words[MAX_MOVE_WORDS + 1];
    Board board = board_of(DEFAULT_FEN).lent_copy(words, std::size(words));
    ASSERT_TRUE(board.push(parse("e2e4")));
    EXPECT_TRUE(board.history.keeps_in(words));
    EXPECT_FALSE(board.history.has_room());
    const Board before = board;
    EXPECT_EQ(failure_of([&] { (void)board.push(parse("e7e5")); }), "No room in lent history storage");
    expect_same(board, before);
    EXPECT_EQ(failure_of([&] { board.history.lend(words, 1); }), "Lent history storage is too small");

    // A larger room takes the words over; a copy owns its storage.
    std::vector<std::uint64_t> room(board.history.wanted_capacity());
    board.history.lend(room.data(), room.size());
    ASSERT_TRUE(board.push(parse("e7e5")));
    Board copy = board;
    EXPECT_FALSE(copy.history.lent());
    board.pop_move();
    board.pop_move();
    expect_same(board, board_of(DEFAULT_FEN));
    copy.pop_move();
    expect_same(copy, before);
}

TEST(Board, BitOperations) {
    EXPECT_EQ(move_bit(0b0001, SQ_A1, SQ_C1), 0b0100u);
    EXPECT_EQ(move_bit(0b0100, SQ_A1, SQ_C1), 0b0100u);  // clear source: destination stays set
    EXPECT_EQ(move_bit(0b0101, SQ_A1, SQ_A1), 0b0101u);
    EXPECT_EQ(delete_bit(0b0101, SQ_C1), 0b0001u);
    const Board board = board_of(DEFAULT_FEN);
    EXPECT_EQ(piece_on(board.pieces, SQ_E3, board.occupancy()), NO_PIECE);
    EXPECT_EQ(piece_on(board.pieces, SQ_E8, board.occupancy(), WHITE), NO_PIECE);
    EXPECT_EQ(piece_on(board.pieces, SQ_E8, board.occupancy()), B_KING);
}

TEST(Fen, LenientReading) {
    EXPECT_EQ(pieces_from_fen("p7/8/8/8/8/8/8/8/8")[6], 1u);  // the ninth rank wraps to a1
    EXPECT_EQ(board_of("8/8/8/8/8/8/8/8 w - z").info, 1u | (1ull << 30));
    EXPECT_EQ(board_of("8/8/8/8/8/8/8/8 b KQ-kq e3").info, 0x6u | (1ull << 17));
    EXPECT_EQ(Board::from_fen("8/8/8/8/8/8/8/8 x").error(), "Invalid side-to-move");
    EXPECT_EQ(failure_of([] { Board::from_fen(DEFAULT_FEN.substr(0, 43)); }), "Missing FEN field: side to move");
    EXPECT_EQ(failure_of([] { Board::from_fen(" \t\u3000"); }), "Missing FEN field: board");
}

TEST(Board, ReflectSwapsColoursAndForgetsHistory) {
    Board board = board_of("4k3/8/8/8/4P3/8/8/1n2K3 w Kq e6");
    ASSERT_TRUE(board.push(parse("e1d1")));
    board.reflect();
    EXPECT_EQ(board.to_fen(), "1N1k4/8/8/4p3/8/8/8/4K3 w Q -");
    EXPECT_TRUE(board.history.empty());
    EXPECT_EQ(board.history.size(), 0u);
    Board ep = board_of("4k3/8/8/3pP3/8/8/8/4K3 w - d6");
    ep.reflect();
    EXPECT_EQ(ep.info, (1ull << 16));
    ep.reflect();
    EXPECT_EQ(ep.to_fen(), "4k3/8/8/3pP3/8/8/8/4K3 w - d6");
}

}  // namespace
}  // namespace mirelo
