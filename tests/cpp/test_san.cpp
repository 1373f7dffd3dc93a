// SAN both ways: python-chess's texts on tricky positions, its leniency and
// refusals, and the round trip over every legal move of many positions.
#include <gtest/gtest.h>

#include <random>

#include "positions.h"
#include "san.h"
#include "support.h"

namespace mirelo {
namespace {

constexpr std::string_view START = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -";
constexpr std::string_view CASTLING = "r3k2r/8/8/8/8/8/8/R3K2R w KQkq -";
constexpr std::string_view PROMOTION = "8/4P3/8/8/8/8/k7/4K3 w - -";
constexpr std::string_view KNIGHTS = "4k3/8/8/8/8/8/8/1N2KN2 w - -";

// The generator's move with the given text.
ChessMove legal_move(const Board& board, std::string_view text) {
    MoveList legal;
    generator().moves(board, legal);
    for (const ChessMove move : legal)
        if (move.to_string() == text) return move;
    ADD_FAILURE() << text << " is not legal in " << board.to_fen();
    return ChessMove{0};
}

std::string san_of(const Board& board, ChessMove move) {
    char out[SAN_CAPACITY];
    return std::string(out, write_san(generator(), board, move, out));
}

struct Written {
    std::string_view fen, move, san;
};

TEST(San, WritesAsPythonChess) {
    const Written table[] = {
        {START, "g1f3", "Nf3"},
        {START, "e2e4", "e4"},
        {KNIGHTS, "b1d2", "Nbd2"},                            // by file
        {"4k3/8/8/R7/8/8/8/R3K3 w - -", "a1a3", "R1a3"},      // by rank
        {"4k3/8/8/8/8/Q7/8/Q1Q1K3 w - -", "a1b2", "Qa1b2"},   // by both
        {"4r1k1/8/8/8/8/8/N3N3/4K3 w - -", "a2c3", "Nc3"},    // the other knight is pinned
        {"4k3/8/8/4p3/8/5N2/8/4K3 w - -", "f3e5", "Nxe5"},
        {PROMOTION, "e7e8q", "e8=Q"},
        {PROMOTION, "e7e8n", "e8=N"},
        {"3r1k2/4P3/8/8/8/8/8/4K3 w - -", "e7d8q", "exd8=Q+"},
        {"4k3/8/8/3pP3/8/8/8/4K3 w - d6", "e5d6", "exd6"},
        {"5k2/8/8/8/8/8/8/4K2R w K -", "e1g1", "O-O+"},
        {"r3k3/8/8/8/8/8/8/4K3 b q -", "e8c8", "O-O-O"},
        {"6k1/5ppp/8/8/8/8/8/R3K3 w - -", "a1a8", "Ra8#"},
        {"7k/8/8/8/8/8/8/K4R2 w - -", "f1f8", "Rf8+"},
    };
    for (const auto& [fen, text, san] : table) {
        const Board board = board_of(fen);
        const ChessMove move = legal_move(board, text);
        EXPECT_EQ(san_of(board, move), san) << fen;
        // The typed move (no special code) names the same move.
        EXPECT_EQ(san_of(board, ChessMove::from_str(text).value()), san) << fen;
        EXPECT_EQ(parse_san(generator(), board, san), move) << fen << " " << san;
    }
    char out[SAN_CAPACITY];
    EXPECT_EQ(write_san(generator(), board_of(START), ChessMove::from_str("e2e5").value(), out), 0u);
}

struct Read {
    std::string_view fen, text, move;  // move "": refused with kind
    SanError kind;
};

TEST(San, ReadsAndRefusesAsPythonChess) {
    constexpr auto OK = SanError::invalid;  // unused for accepted texts
    const Read table[] = {
        // Leniency: long forms, separators, suffixes, castling with zeros.
        {START, "Ng1f3", "g1f3", OK},
        {START, "e2-e4", "e2e4", OK},
        {START, "e2e4", "e2e4", OK},
        {START, "e2xe4", "e2e4", OK},
        {START, "Nxf3", "g1f3", OK},
        {START, "e4#", "e2e4", OK},
        {START, "ee4", "e2e4", OK},
        {CASTLING, "0-0", "e1g1", OK},
        {CASTLING, "O-O-O+", "e1c1", OK},
        {CASTLING, "e1g1", "e1g1", OK},
        {CASTLING, "e1h1", "e1g1", OK},
        {CASTLING, "e1a1", "e1c1", OK},
        {PROMOTION, "e8q", "e7e8q", OK},
        {PROMOTION, "e8=q", "e7e8q", OK},
        {PROMOTION, "e7e8N", "e7e8n", OK},
        {KNIGHTS, "Nbd2", "b1d2", OK},
        // Refusals.
        {START, "", "", SanError::invalid},
        {START, "e9", "", SanError::invalid},
        {START, "i4", "", SanError::invalid},
        {START, "Pe4", "", SanError::invalid},
        {START, "N@f3", "", SanError::invalid},
        {START, "e4!", "", SanError::invalid},
        {START, "O-O!", "", SanError::invalid},
        {START, " e4", "", SanError::invalid},
        {START, "e4,e5", "", SanError::invalid},
        {START, "e4++", "", SanError::invalid},
        {START, "--", "", SanError::null_move},
        {START, "Z0", "", SanError::null_move},
        {START, "0000", "", SanError::null_move},
        {START, "@@@@", "", SanError::null_move},
        {START, "Ke3", "", SanError::illegal},
        {START, "e5", "", SanError::illegal},
        {START, "O-O", "", SanError::illegal},
        {START, "Nf3=Q", "", SanError::illegal},
        {START, "Nd2", "", SanError::illegal},  // onto its own pawn
        {CASTLING, "Kg1", "", SanError::illegal},
        {CASTLING, "Ke1g1", "", SanError::illegal},
        {CASTLING, "e1g1q", "", SanError::illegal},
        {PROMOTION, "e8", "", SanError::illegal},
        {PROMOTION, "e7e8", "", SanError::illegal},
        {PROMOTION, "e8=K", "", SanError::illegal},
        {KNIGHTS, "Nd2", "", SanError::ambiguous},
    };
    for (const auto& [fen, text, uci, kind] : table) {
        const auto move = parse_san(generator(), board_of(fen), text);
        if (uci.empty()) {
            ASSERT_FALSE(move.has_value()) << text << " read as " << move->to_string();
            EXPECT_EQ(move.error(), kind) << text;
        } else {
            ASSERT_TRUE(move.has_value()) << text;
            EXPECT_EQ(move->to_string(), uci) << text;
        }
    }
}

TEST(San, OneWordingOfRefusals) {
    const Board board = board_of(START);
    EXPECT_EQ(san_error_message(SanError::illegal, "Ke3", board), "Illegal SAN 'Ke3' in " + std::string(START));
    EXPECT_EQ(san_error_message(SanError::ambiguous, "Nd2", board), "Ambiguous SAN 'Nd2' in " + std::string(START));
    EXPECT_EQ(san_error_message(SanError::invalid, "e4\n'", board), "Invalid SAN 'e4\\x0a\\'' in " + std::string(START));
    EXPECT_TRUE(san_error_message(SanError::null_move, "--", board).starts_with("Illegal SAN '--' in "));
    EXPECT_EQ(san_error_at_ply(SanError::illegal, "Ke3", 3), "illegal SAN 'Ke3' at ply 3");
    EXPECT_EQ(san_error_at_ply(SanError::null_move, "Z0", 9), "null move 'Z0' at ply 9");
}

// Every legal move of the test positions and of seeded random games from
// them reads back from its SAN, with and without the check suffix, whether
// or not the reader is told that no square is held twice.
TEST(San, RoundTripOverRandomGames) {
    std::mt19937 random(18);
    std::size_t moves = 0;
    for (const auto& p : testing::read_positions()) {
        Position position = board_of(p.fen);
        for (int ply = 0; ply < 120; ++ply) {
            MoveList legal;
            generator().moves(position, legal);
            if (legal.size == 0) break;
            for (const ChessMove move : legal) {
                char out[SAN_CAPACITY];
                const std::string san(out, write_san(generator(), position, legal, move, out));
                for (const std::string& text : {san, san.substr(0, san.find_first_of("+#"))}) {
                    const auto parts = split_san(text);
                    ASSERT_TRUE(parts.has_value()) << text;
                    Position after;
                    for (const bool no_square_twice : {false, true}) {
                        const auto read = resolve_san(generator(), position, *parts, after, no_square_twice);
                        ASSERT_TRUE(read.has_value()) << text << " in " << p.fen;
                        ASSERT_EQ(*read, move) << text;
                    }
                    EXPECT_EQ(after.pieces, position.after(move, move_roles(position.pieces, position.occupancy(), move)).pieces);
                }
                ++moves;
            }
            const ChessMove move = legal.moves[random() % legal.size];
            position = position.after(move, move_roles(position.pieces, position.occupancy(), move));
        }
    }
    EXPECT_GT(moves, 10'000u);
}

}  // namespace
}  // namespace mirelo
