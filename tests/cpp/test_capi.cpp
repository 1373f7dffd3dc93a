// The C interface of the core: statuses and the error of the calling thread,
// borrows refused without a change, and results equal to the core's own.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>

#include "board.h"
#include "encoding.h"
#include "mirelo_capi.h"
#include "move_generator.h"

namespace mirelo {
namespace {

constexpr std::string_view POSITIONS[] = {
    DEFAULT_FEN,
    "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -",
    "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - -",
    "rnbq1k1r/pp1Pbppp/2p5/8/2B5/8/PPP1NnPP/RNBQK2R w KQ -",
};

struct Handles {
    std::unique_ptr<mirelo_out> out = std::make_unique<mirelo_out>();
    mirelo_board* board = nullptr;

    explicit Handles(std::string_view fen) {
        EXPECT_EQ(mirelo_board_new(fen.data(), fen.size(), out.get()), MIRELO_OK);
        board = out->board;
    }
    ~Handles() { mirelo_board_free(board); }

    std::string fen() {
        EXPECT_EQ(mirelo_board_fen(board, out.get()), MIRELO_OK);
        return std::string(out->text, out->length);
    }
    int push(std::string_view text) { return mirelo_board_push(board, text.data(), text.size(), out.get()); }
};

std::string error_text() { return std::string(mirelo_error_text(), mirelo_error_length()); }

TEST(CApi, ErrorTextsAndInternalFailures) {
    Handles h(DEFAULT_FEN);
    const std::string_view bad_side = "8/8/8/8/8/8/8/8 x - -";
    EXPECT_EQ(mirelo_board_new(bad_side.data(), bad_side.size(), h.out.get()), MIRELO_ERROR);
    EXPECT_EQ(error_text(), "Invalid side-to-move");

    EXPECT_EQ(mirelo_board_new("x", 1, h.out.get()), MIRELO_FAILURE);
    EXPECT_EQ(error_text(), "Invalid piece type");
    EXPECT_TRUE(std::string_view(mirelo_error_file()).ends_with("board.cpp")) << mirelo_error_file();
    EXPECT_GT(mirelo_error_line(), 0u);

    // Texts are taken by length: a zero byte is part of them.
    EXPECT_EQ(h.push(std::string_view("e2e4\0", 5)), MIRELO_ERROR);
    EXPECT_EQ(error_text(), std::string("Unsupported promotion type for e2e4\0", 36));
    EXPECT_EQ(h.push("e3e4"), MIRELO_FAILURE);
    EXPECT_EQ(error_text(), "No piece to move on e3");
    EXPECT_EQ(mirelo_board_pop(h.board), MIRELO_FAILURE);
    EXPECT_EQ(error_text(), "No move to take back");
    EXPECT_EQ(h.fen(), DEFAULT_FEN);
}

TEST(CApi, RefusedBorrowsChangeNothing) {
    Handles h(DEFAULT_FEN);
    auto out = h.out.get();
    ASSERT_EQ(mirelo_board_borrow(h.board, 1), MIRELO_OK);
    EXPECT_EQ(mirelo_board_fen(h.board, out), MIRELO_MUTABLY_BORROWED);
    EXPECT_EQ(mirelo_board_copy(h.board, out), MIRELO_MUTABLY_BORROWED);
    EXPECT_EQ(mirelo_board_borrow(h.board, 0), MIRELO_MUTABLY_BORROWED);
    EXPECT_EQ(h.push("e2e4"), MIRELO_BORROWED);
    EXPECT_EQ(mirelo_board_reflect(h.board), MIRELO_BORROWED);
    mirelo_board_release(h.board, 1);

    ASSERT_EQ(mirelo_generator_new(out), MIRELO_OK);
    mirelo_generator* generator = out->generator;
    ASSERT_EQ(mirelo_board_borrow(h.board, 0), MIRELO_OK);
    ASSERT_EQ(mirelo_board_borrow(h.board, 0), MIRELO_OK);  // shared borrows add up
    EXPECT_EQ(h.fen(), DEFAULT_FEN);
    EXPECT_EQ(mirelo_board_pop(h.board), MIRELO_BORROWED);
    EXPECT_EQ(mirelo_generator_moves(generator, h.board, out), MIRELO_BORROWED);
    mirelo_board_release(h.board, 0);
    EXPECT_EQ(h.push("e2e4"), MIRELO_BORROWED);
    mirelo_board_release(h.board, 0);

    ASSERT_EQ(mirelo_generator_borrow(generator, 1), MIRELO_OK);
    EXPECT_EQ(mirelo_generator_moves(generator, h.board, out), MIRELO_MUTABLY_BORROWED);
    mirelo_generator_release(generator, 1);
    ASSERT_EQ(mirelo_generator_moves(generator, h.board, out), MIRELO_OK);
    EXPECT_EQ(out->length, 20u);
    EXPECT_EQ(h.push("e2e4"), MIRELO_OK);
    EXPECT_EQ(h.fen(), "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3");
    mirelo_generator_free(generator);
}

TEST(CApi, ResultsMatchTheCore) {
    const MoveGenerator core_generator;
    auto list = std::make_unique<MoveList>();
    for (const std::string_view fen : POSITIONS) {
        Handles h(fen);
        auto out = h.out.get();
        Board board = Board::from_fen(fen).value();
        EXPECT_EQ(h.fen(), board.to_fen());
        ASSERT_EQ(mirelo_board_turn(h.board, out), MIRELO_OK);
        EXPECT_EQ(out->length, board.to_move());

        Planes planes;
        write_planes(board.pieces, PlaneElement::byte, planes.data());
        ASSERT_EQ(mirelo_board_planes(h.board, out), MIRELO_OK);
        std::string marked(planes.size(), '\0');
        for (std::size_t i = 0; i < out->length; ++i) {
            if (i > 0) {
                EXPECT_LT(out->marks[i - 1], out->marks[i]);
            }
            marked[out->marks[i]] = 1;
        }
        EXPECT_EQ(marked, std::string(planes.begin(), planes.end())) << fen;

        ASSERT_EQ(mirelo_generator_new(out), MIRELO_OK);
        mirelo_generator* generator = out->generator;
        ASSERT_EQ(mirelo_generator_moves(generator, h.board, out), MIRELO_OK);
        core_generator.moves(board, *list);
        ASSERT_EQ(out->length, list->size) << fen;
        for (std::size_t i = 0; i < list->size; ++i) {
            // A move played by text, and again by the code its text reads as,
            // gives one position.
            EXPECT_EQ(out->moves[i], list->moves[i].data);
            ASSERT_EQ(mirelo_move_text(out->moves[i], out), MIRELO_OK);
            const std::string text(out->text, out->length);
            ASSERT_EQ(h.push(text), MIRELO_OK) << text;
            const std::uint16_t code = out->moves[0];
            EXPECT_EQ(code, ChessMove::from_str(text)->data);
            const std::string by_text = h.fen();
            ASSERT_EQ(mirelo_board_pop(h.board), MIRELO_OK);
            ASSERT_EQ(mirelo_board_push_code(h.board, code), MIRELO_OK);
            EXPECT_EQ(h.fen(), by_text);

            // A copy keeps the history and goes its own way.
            ASSERT_EQ(mirelo_board_copy(h.board, out), MIRELO_OK);
            mirelo_board* copy = out->board;
            ASSERT_EQ(mirelo_board_pop(h.board), MIRELO_OK);
            ASSERT_EQ(mirelo_board_fen(copy, out), MIRELO_OK);
            EXPECT_EQ(std::string(out->text, out->length), by_text);
            ASSERT_EQ(mirelo_board_pop(copy), MIRELO_OK);
            ASSERT_EQ(mirelo_board_fen(copy, out), MIRELO_OK);
            EXPECT_EQ(std::string(out->text, out->length), fen);
            mirelo_board_free(copy);
            ASSERT_EQ(mirelo_generator_moves(generator, h.board, out), MIRELO_OK);
        }
        EXPECT_EQ(h.fen(), fen);
        mirelo_generator_free(generator);
    }
}

}  // namespace
}  // namespace mirelo
