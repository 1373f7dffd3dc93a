// Planes in every element type and the move index layout.
#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <random>
#include <set>

#include "board.h"
#include "encoding.h"
#include "move_generator.h"

namespace mirelo {
namespace {

const MoveGenerator& generator() {
    static const MoveGenerator instance;
    return instance;
}

TEST(Planes, EveryElementTypeMatchesTheBits) {
    std::mt19937_64 rng(11);
    for (int round = 0; round < 200; ++round) {
        Pieces pieces;
        for (Bitboard& b : pieces) b = rng() & rng();  // overlaps allowed: planes are independent
        std::uint8_t bytes[PLANE_FLAGS];
        std::uint16_t halves[PLANE_FLAGS];
        float singles[PLANE_FLAGS];
        write_planes(pieces, PlaneElement::byte, bytes);
        write_planes(pieces, PlaneElement::half, halves);
        write_planes(pieces, PlaneElement::single, singles);
        for (std::size_t i = 0; i < PLANE_FLAGS; ++i) {
            const bool set = has(pieces[i / 64], static_cast<Square>(i % 64));
            ASSERT_EQ(bytes[i], set ? 1 : 0) << i;
            ASSERT_EQ(halves[i], set ? 0x3C00 : 0) << i;
            ASSERT_EQ(singles[i], set ? 1.0f : 0.0f) << i;
        }
    }
}

TEST(Planes, UnalignedDestination) {
    const Pieces pieces = pieces_from_fen(DEFAULT_FEN);
    alignas(8) unsigned char buffer[plane_bytes(PlaneElement::single) + 1];
    write_planes(pieces, PlaneElement::single, buffer + 1);
    float e1_king;
    std::memcpy(&e1_king, buffer + 1 + 4 * (5 * 64 + 4), 4);
    EXPECT_EQ(e1_king, 1.0f);
}

TEST(MoveIndex, FixedPoints) {
    const std::pair<const char*, unsigned> cases[] = {
        {"a1a2", 0},                 // north, distance 1, from a1
        {"a1h8", 64 * (7 + 6) + 0},  // north-east, distance 7
        {"e1g1", 64 * 15 + 4},       // castling: east, distance 2
        {"g1f3", 64 * 63 + 6},       // knight, two north one west: the last knight plane
        {"b1c3", 64 * 56 + 1},       // knight, two north one east
        {"e7e8n", 64 * 65 + 52},     // knight promotion straight ahead
        {"d2c1r", 64 * 70 + 11},     // rook promotion toward the a-file, Black
        {"e7e8q", 64 * 74 + 52},
        {"a7b8q", 64 * 75 + 48},
        {"e7e8", 64 * 0 + 52},       // a rook's move, not a promotion
    };
    for (const auto& [text, index] : cases) {
        EXPECT_EQ(move_index(std::string_view(text)), index) << text;
        char out[5];
        const std::size_t length = move_text(index, out);
        EXPECT_EQ(std::string(out, length), text);
    }
}

TEST(MoveIndex, RefusedTexts) {
    for (const char* text : {"", "e2e", "e2e4 ", " e2e4", "E2E4", "e2e4Q", "e7e8k", "e7e8qq", "a1h7", "a1a1",
                             "i1a1", "a0a1", "e6e7q", "e3e2q", "a7h8q", "e7e6q", "e2e1 ", "e7d8x"})
        EXPECT_FALSE(move_index(std::string_view(text))) << text;
    EXPECT_FALSE(move_index(std::string_view("e2e4\0", 5)));
}

TEST(MoveIndex, BijectionOverTheWholeRange) {
    std::set<std::string> texts;
    for (std::size_t index = 0; index < MOVE_INDEX_SIZE + 10; ++index) {
        char out[5];
        const std::size_t length = move_text(index, out);
        if (length == 0) continue;
        const std::string text(out, length);
        ASSERT_EQ(move_index(std::string_view(text)), index) << text;
        texts.insert(text);
    }
    EXPECT_EQ(texts.size(), USED_MOVE_INDICES);
}

// Every move the generator makes on random playouts has the index of its text.
TEST(MoveIndex, GeneratedMovesOnPlayouts) {
    std::mt19937 rng(5);
    std::size_t checked = 0;
    for (const std::string_view fen :
         {DEFAULT_FEN, std::string_view("r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -"),
          std::string_view("n1n5/PPPk4/8/8/8/8/4Kppp/5N1N b - -")}) {
        for (int game = 0; game < 20; ++game) {
            Board board = Board::from_fen(fen).value();
            for (int ply = 0; ply < 120; ++ply) {
                MoveList moves;
                generator().moves(board, moves);
                if (moves.size == 0) break;
                std::uint8_t mask[MOVE_INDEX_SIZE];
                std::int64_t indices[MAX_MOVES];
                write_move_mask(moves, mask);
                write_move_indices(moves, indices);
                std::size_t k = 0;
                for (const ChessMove move : moves) {
                    const std::string text = move.to_string();
                    ASSERT_EQ(move_index(move), move_index(std::string_view(text)).value()) << text;
                    ASSERT_EQ(indices[k++], move_index(move));
                    ASSERT_EQ(mask[move_index(move)], 1);
                    ++checked;
                }
                std::size_t ones = 0;
                for (const std::uint8_t flag : mask) ones += flag;
                ASSERT_EQ(ones, moves.size);  // distinct moves have distinct indices
                ASSERT_TRUE(board.push(moves.moves[rng() % moves.size]));
            }
        }
    }
    EXPECT_GT(checked, 10000u);
}

}  // namespace
}  // namespace mirelo
