// The C interface of the core: statuses and the finished messages of the
// calling thread, borrows (the thread's own re-entry refused without a
// change, other threads waited for, batches all or nothing), and results
// equal to the core's own.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "board.h"
#include "encoding.h"
#include "mirelo_capi.h"
#include "move_generator.h"
#include "records.h"

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
    mirelo_generator* generator = nullptr;

    explicit Handles(std::string_view fen) {
        EXPECT_EQ(mirelo_board_new(fen.data(), fen.size(), nullptr, nullptr, 0, out.get()), MIRELO_OK);
        board = static_cast<mirelo_board*>(out->record);
        EXPECT_EQ(mirelo_generator_new(nullptr, nullptr, 0, out.get()), MIRELO_OK);
        generator = static_cast<mirelo_generator*>(out->record);
    }
    ~Handles() {
        mirelo_free(MIRELO_BOARD_CLASS, board);
        mirelo_free(MIRELO_GENERATOR_CLASS, generator);
    }

    std::string fen() { return fen_of(board); }
    std::string fen_of(mirelo_board* b) {
        EXPECT_EQ(mirelo_board_fen(b, out.get()), MIRELO_OK);
        return std::string(out->text, out->text_length);
    }
    int push(std::string_view text, int code = -1) {
        return mirelo_board_push(board, text.data(), text.size(), code, out.get());
    }
};

std::string error_text() { return std::string(mirelo_error_text(), mirelo_error_length()); }

TEST(CApi, RecordsStartWithTheirFlag) {
    Handles h(DEFAULT_FEN);
    EXPECT_EQ(static_cast<void*>(static_cast<mirelo_record*>(h.board)), static_cast<void*>(h.board));
    EXPECT_EQ(static_cast<void*>(static_cast<mirelo_record*>(h.generator)), static_cast<void*>(h.generator));
}

TEST(CApi, MessagesAndInternalFailures) {
    Handles h(DEFAULT_FEN);
    const std::string_view bad_side = "8/8/8/8/8/8/8/8 x - -";
    EXPECT_EQ(mirelo_board_new(bad_side.data(), bad_side.size(), nullptr, nullptr, 0, h.out.get()), MIRELO_VALUE_ERROR);
    EXPECT_EQ(error_text(), "Invalid fen: Invalid side-to-move");

    testing::internal::CaptureStderr();
    EXPECT_EQ(mirelo_board_new("x", 1, nullptr, nullptr, 0, h.out.get()), MIRELO_FAILURE);
    EXPECT_EQ(testing::internal::GetCapturedStderr().find("mirelo_chess: internal failure at board.cpp:"), 0u);
    EXPECT_EQ(error_text(), "Invalid piece type");
    EXPECT_TRUE(std::string_view(mirelo_error_file()).ends_with("board.cpp")) << mirelo_error_file();
    EXPECT_GT(mirelo_error_line(), 0u);

    // Texts are taken by length: a zero byte is part of them.
    EXPECT_EQ(h.push(std::string_view("e2e4\0", 5)), MIRELO_VALUE_ERROR);
    EXPECT_EQ(error_text(), std::string("Invalid chess move: Unsupported promotion type for e2e4\0", 56));
    testing::internal::CaptureStderr();
    EXPECT_EQ(h.push("e3e4"), MIRELO_FAILURE);
    EXPECT_EQ(error_text(), "No piece to move on e3");
    EXPECT_EQ(mirelo_board_pop(h.board, h.out.get()), MIRELO_FAILURE);
    EXPECT_EQ(error_text(), "No move to take back");
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(h.fen(), DEFAULT_FEN);

    EXPECT_EQ(mirelo_game_perft(h.generator, h.board, 33, h.out.get()), MIRELO_VALUE_ERROR);
    EXPECT_EQ(error_text(), "Invalid depth: 33 (must be from 0 to 32)");
    EXPECT_EQ(mirelo_move_index("e2e9", 4, h.out.get()), MIRELO_VALUE_ERROR);
    EXPECT_EQ(error_text(), "'e2e9' is not a move text of the index layout");
    const std::string_view texts = "8/8 w\xe3\x80\x80x'\n";
    const std::size_t ends[] = {5, texts.size()};
    unsigned char planes[2 * MIRELO_PLANES_SIZE];
    testing::internal::CaptureStderr();
    EXPECT_EQ(mirelo_write_fen_planes(texts.data(), ends, 2, planes, sizeof planes, 0, h.out.get()),
              MIRELO_VALUE_ERROR);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(error_text(), "fens[1] '\xe3\x80\x80x\\'\\x0a': Invalid piece type");
}

// Python code that runs while a face holds a record is the only way for a
// thread to meet its own borrow: refused, nothing changed.
TEST(CApi, ReentryIsRefused) {
    Handles h(DEFAULT_FEN);
    auto out = h.out.get();
    ASSERT_EQ(mirelo_hold(h.board, 1), MIRELO_OK);
    EXPECT_EQ(mirelo_board_fen(h.board, out), MIRELO_MUTABLY_BORROWED);
    EXPECT_EQ(error_text(), "Already mutably borrowed");
    EXPECT_EQ(mirelo_board_copy(h.board, nullptr, nullptr, 0, out), MIRELO_MUTABLY_BORROWED);
    EXPECT_EQ(h.push("e2e4"), MIRELO_BORROWED);
    EXPECT_EQ(error_text(), "Already borrowed");
    EXPECT_EQ(mirelo_board_reflect(h.board, out), MIRELO_BORROWED);
    mirelo_unhold(h.board, 1);

    ASSERT_EQ(mirelo_hold(h.board, 0), MIRELO_OK);
    ASSERT_EQ(mirelo_hold(h.board, 0), MIRELO_OK);  // shared holds add up
    EXPECT_EQ(h.fen(), DEFAULT_FEN);
    EXPECT_EQ(mirelo_board_pop(h.board, out), MIRELO_BORROWED);
    EXPECT_EQ(mirelo_generator_moves(h.generator, h.board, out), MIRELO_BORROWED);
    mirelo_unhold(h.board, 0);
    EXPECT_EQ(h.push("e2e4"), MIRELO_BORROWED);
    mirelo_unhold(h.board, 0);

    ASSERT_EQ(mirelo_generator_moves(h.generator, h.board, out), MIRELO_OK);
    EXPECT_EQ(out->move_count, 20u);
    EXPECT_EQ(h.push("e2e4"), MIRELO_OK);
    EXPECT_EQ(h.fen(), "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3");
}

// A board given a room keeps its history there and nowhere else: a call that
// finds the room too small changes nothing and tells how much it wants, and
// the face moves the history into a larger one. The records here are never
// ended, as a collector frees them: the leak check of the sanitized run
// holds them to owning nothing outside their memory.
TEST(CApi, RoomsGrowOnlyWhenTheFaceGivesThem) {
    auto out = std::make_unique<mirelo_out>();
    alignas(MIRELO_RECORD_ALIGN) unsigned char place[256], copy_place[256];
    ASSERT_LE(mirelo_class_info_of(MIRELO_BOARD_CLASS)->size, sizeof place);
    EXPECT_TRUE(mirelo_class_info_of(MIRELO_BOARD_CLASS)->grows);
    EXPECT_FALSE(mirelo_class_info_of(MIRELO_GENERATOR_CLASS)->grows);
    auto* board = reinterpret_cast<mirelo_board*>(place);
    ASSERT_EQ(mirelo_board_new(DEFAULT_FEN.data(), DEFAULT_FEN.size(), board, place, 0, out.get()), MIRELO_OK);
    const auto fen_of = [&](mirelo_board* b) {
        EXPECT_EQ(mirelo_board_fen(b, out.get()), MIRELO_OK);
        return std::string(out->text, out->text_length);
    };
    EXPECT_EQ(mirelo_board_push(board, "e2e4", 4, -1, nullptr), MIRELO_NEEDS_ROOM);
    EXPECT_EQ(mirelo_board_push(board, "e2e4", 4, -1, out.get()), MIRELO_NEEDS_ROOM);
    const std::size_t wanted = out->size;
    EXPECT_GE(wanted, 5 * sizeof(std::uint64_t));
    EXPECT_EQ(fen_of(board), DEFAULT_FEN);

    // Only the room given last is moved from: another thread may have given
    // one meanwhile.
    std::vector<std::uint64_t> small(2), room(wanted / sizeof(std::uint64_t));
    EXPECT_EQ(mirelo_give_room(MIRELO_BOARD_CLASS, board, small.data(), room.data(), wanted, out.get()), MIRELO_OK);
    EXPECT_EQ(out->flag, 0);
    EXPECT_EQ(mirelo_give_room(MIRELO_BOARD_CLASS, board, place, nullptr, 0, out.get()), MIRELO_NEEDS_ROOM);
    EXPECT_EQ(out->size, wanted);
    EXPECT_EQ(mirelo_give_room(MIRELO_BOARD_CLASS, board, place, small.data(), 16, out.get()), MIRELO_NEEDS_ROOM);
    EXPECT_EQ(mirelo_give_room(MIRELO_BOARD_CLASS, board, place, room.data(), wanted, out.get()), MIRELO_OK);
    EXPECT_EQ(out->flag, 1);

    // Knights out and back: the history grows room after room.
    Board core = Board::from_fen(DEFAULT_FEN).value();
    std::vector<std::vector<std::uint64_t>> rooms;
    const char* const tour[] = {"g1f3", "g8f6", "f3g1", "f6g8"};
    for (int ply = 0; ply < 200; ++ply) {
        const char* text = tour[ply % 4];
        int status = mirelo_board_push(board, text, 4, -1, out.get());
        if (status == MIRELO_NEEDS_ROOM) {
            void* used = rooms.empty() ? static_cast<void*>(room.data()) : rooms.back().data();
            auto& larger = rooms.emplace_back(out->size / sizeof(std::uint64_t));
            ASSERT_EQ(mirelo_give_room(MIRELO_BOARD_CLASS, board, used, larger.data(), out->size, out.get()), MIRELO_OK);
            status = mirelo_board_push(board, text, 4, -1, out.get());
        }
        ASSERT_EQ(status, MIRELO_OK);
        ASSERT_TRUE(core.push(ChessMove::from_str(text).value()));
    }
    EXPECT_GE(rooms.size(), 2u);
    EXPECT_EQ(mirelo_game_repetitions(board, out.get()), MIRELO_OK);
    EXPECT_EQ(out->count, 51u);

    // A copy wants room for the moves there are.
    auto* copy = reinterpret_cast<mirelo_board*>(copy_place);
    ASSERT_EQ(mirelo_board_copy(board, copy, copy_place, 0, out.get()), MIRELO_NEEDS_ROOM);
    std::vector<std::uint64_t> copy_room(out->size / sizeof(std::uint64_t));
    ASSERT_EQ(mirelo_board_copy(board, copy, copy_room.data(), out->size, out.get()), MIRELO_OK);
    for (int ply = 0; ply < 199; ++ply) {
        ASSERT_EQ(mirelo_board_pop(copy, nullptr), MIRELO_OK);
        core.pop_move();
        ASSERT_EQ(fen_of(copy), core.to_fen());
    }
    EXPECT_EQ(fen_of(board), Board::from_fen(DEFAULT_FEN)->to_fen());

    ASSERT_EQ(mirelo_hold(board, 0), MIRELO_OK);
    EXPECT_EQ(mirelo_give_room(MIRELO_BOARD_CLASS, board, rooms.back().data(), nullptr, 0, out.get()), MIRELO_BORROWED);
    mirelo_unhold(board, 0);
    std::vector<std::uint64_t> large(1024);
    testing::internal::CaptureStderr();
    EXPECT_EQ(mirelo_give_room(MIRELO_BOARD_CLASS, board, rooms.back().data(),
                               reinterpret_cast<unsigned char*>(large.data()) + 1, 8000, out.get()),
              MIRELO_FAILURE);
    EXPECT_EQ(error_text(), "A room must be aligned like a record");
    EXPECT_EQ(mirelo_give_room(MIRELO_GENERATOR_CLASS, board, place, nullptr, 0, out.get()), MIRELO_FAILURE);
    testing::internal::GetCapturedStderr();
}

// A batch refused for a later board writes nothing for the earlier ones.
TEST(CApi, BatchesTakeEveryBorrowFirst) {
    Handles a(DEFAULT_FEN), b(POSITIONS[1]);
    mirelo_board* boards[] = {a.board, b.board};
    std::vector<unsigned char> masks(2 * MIRELO_MOVE_INDEX_SIZE, 7), planes(2 * MIRELO_PLANES_SIZE, 7);
    ASSERT_EQ(mirelo_hold(b.board, 0), MIRELO_OK);
    EXPECT_EQ(mirelo_legal_mask_batch(a.generator, boards, 2, masks.data(), masks.size(), a.out.get()),
              MIRELO_BORROWED);
    mirelo_unhold(b.board, 0);
    ASSERT_EQ(mirelo_hold(b.board, 1), MIRELO_OK);
    EXPECT_EQ(mirelo_write_planes_batch(boards, 2, planes.data(), planes.size(), 0, a.out.get()),
              MIRELO_MUTABLY_BORROWED);
    mirelo_unhold(b.board, 1);
    EXPECT_EQ(masks, std::vector<unsigned char>(masks.size(), 7));
    EXPECT_EQ(planes, std::vector<unsigned char>(planes.size(), 7));

    // A board named twice is taken once.
    mirelo_board* twice[] = {b.board, a.board, b.board};
    masks.resize(3 * MIRELO_MOVE_INDEX_SIZE);
    ASSERT_EQ(mirelo_legal_mask_batch(a.generator, twice, 3, masks.data(), masks.size(), a.out.get()), MIRELO_OK);
    EXPECT_TRUE(std::equal(masks.begin(), masks.begin() + MIRELO_MOVE_INDEX_SIZE,
                           masks.begin() + 2 * MIRELO_MOVE_INDEX_SIZE));
    EXPECT_EQ(a.push("e2e4"), MIRELO_OK);  // nothing stays taken
    EXPECT_EQ(mirelo_board_reflect(b.board, a.out.get()), MIRELO_OK);
}

// A record another thread holds is waited for, not refused.
TEST(CApi, OtherThreadsAreWaitedFor) {
    Handles h(DEFAULT_FEN);
    std::atomic<int> stage{0};
    std::thread holder([&] {
        ASSERT_EQ(mirelo_hold(h.board, 1), MIRELO_OK);
        stage = 1;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        stage = 2;
        mirelo_unhold(h.board, 1);
    });
    while (stage.load() == 0) std::this_thread::yield();
    mirelo_out out;
    EXPECT_EQ(mirelo_board_push(h.board, "e2e4", 4, -1, &out), MIRELO_OK);
    EXPECT_EQ(stage.load(), 2);
    holder.join();

    // Writers and readers on one board from several threads: every read sees
    // a whole move.
    std::vector<std::thread> threads;
    std::atomic<int> problems{0};
    for (int t = 0; t < 3; ++t)
        threads.emplace_back([&, t] {
            mirelo_out own;
            for (int i = 0; i < 2000; ++i) {
                if (t == 0) {
                    problems += mirelo_board_push(h.board, "e7e5", 4, -1, &own) != MIRELO_OK;
                    problems += mirelo_board_pop(h.board, &own) != MIRELO_OK;
                } else {
                    problems += mirelo_generator_moves(h.generator, h.board, &own) != MIRELO_OK;
                    problems += own.move_count != 20 && own.move_count != 29;
                }
            }
        });
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(problems.load(), 0);
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
        EXPECT_EQ(out->side, board.to_move() ? MIRELO_WHITE : MIRELO_BLACK);

        Planes planes;
        write_planes(board.pieces, PlaneElement::byte, planes.data());
        ASSERT_EQ(mirelo_board_planes(h.board, out), MIRELO_OK);
        std::string marked(planes.size(), '\0');
        for (std::size_t i = 0; i < out->mark_count; ++i) {
            if (i > 0) {
                EXPECT_LT(out->marks[i - 1], out->marks[i]);
            }
            marked[out->marks[i]] = 1;
        }
        EXPECT_EQ(marked, std::string(planes.begin(), planes.end())) << fen;

        auto moves = std::make_unique<mirelo_out>();
        ASSERT_EQ(mirelo_generator_moves(h.generator, h.board, moves.get()), MIRELO_OK);
        core_generator.moves(board, *list);
        ASSERT_EQ(moves->move_count, list->size) << fen;
        for (std::size_t i = 0; i < list->size; ++i) {
            // A move played by text, and again by the code its text reads as,
            // gives one position.
            EXPECT_EQ(moves->moves[i], list->moves[i].data);
            ASSERT_EQ(mirelo_move_text(moves->moves[i], out), MIRELO_OK);
            const std::string text(out->text, out->text_length);
            ASSERT_EQ(h.push(text), MIRELO_OK) << text;
            const int code = out->code;
            EXPECT_EQ(code, ChessMove::from_str(text)->data);
            const std::string by_text = h.fen();
            ASSERT_EQ(mirelo_board_pop(h.board, out), MIRELO_OK);
            ASSERT_EQ(h.push("", code), MIRELO_OK);
            EXPECT_EQ(h.fen(), by_text);

            // A copy placed in memory of the caller's keeps the history and
            // goes its own way.
            alignas(MIRELO_RECORD_ALIGN) unsigned char place[256];
            ASSERT_LE(mirelo_class_info_of(MIRELO_BOARD_CLASS)->size, sizeof place);
            auto* copy = reinterpret_cast<mirelo_board*>(place);
            ASSERT_EQ(mirelo_board_copy(h.board, copy, nullptr, 0, out), MIRELO_OK);
            EXPECT_EQ(out->record, copy);
            ASSERT_EQ(mirelo_board_pop(h.board, out), MIRELO_OK);
            EXPECT_EQ(h.fen_of(copy), by_text);
            ASSERT_EQ(mirelo_board_pop(copy, out), MIRELO_OK);
            EXPECT_EQ(h.fen_of(copy), fen);
            mirelo_drop(MIRELO_BOARD_CLASS, copy);
        }
        EXPECT_EQ(h.fen(), fen);
    }
}

}  // namespace
}  // namespace mirelo
