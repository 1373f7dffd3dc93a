// The streaming PGN reader: games as python-chess reads them, the same games
// whatever the chunks, line ends and bad input, and memory that stays with
// the game being read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pgn.h"
#include "support.h"

namespace mirelo {
namespace {

// A game in one line: tags, start, moves, comments, result and error.
std::string describe(const PgnGame& game) {
    std::string text = std::to_string(game.index) + " [";
    for (const PgnTag& tag : game.tags) text += std::string(game.view(tag.name)) + "=" + std::string(game.view(tag.value)) + ";";
    text += "] " + game.start.to_fen() + " |";
    for (const ChessMove move : game.moves) text += " " + move.to_string();
    text += " |";
    for (const TextSpan comment : game.comments) text += " {" + std::string(game.view(comment)) + "}";
    return text + " " + game.result + " " + game.error;
}

// The games of text, fed in pieces that end at the given offsets.
std::vector<std::string> read_games(std::string_view text, const std::vector<std::size_t>& cuts = {},
                                    bool comments = true) {
    PgnReader reader(generator(), {.comments = comments});
    PgnGame game;
    std::vector<std::string> games;
    std::size_t begin = 0;
    for (const std::size_t cut : cuts) {
        reader.feed(text.data() + begin, cut - begin);
        while (reader.next(game)) games.push_back(describe(game));
        begin = cut;
    }
    reader.feed(text.data() + begin, text.size() - begin);
    reader.finish();
    while (reader.next(game)) games.push_back(describe(game));
    return games;
}

PgnGame first_game(std::string_view text) {
    PgnReader reader(generator());
    reader.feed(text.data(), text.size());
    reader.finish();
    PgnGame game;
    EXPECT_TRUE(reader.next(game)) << text;
    return game;
}

constexpr std::string_view START = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -";

// Several games that touch most of the reader: a byte order mark, "%" and
// ";" lines, a blank line among the tags, CRLF line ends, a comment over
// lines, variations, NAGs and glyphs, an illegal move, a FEN game, a game
// without tags, a bad byte and a last line without a line break.
constexpr std::string_view GAMES =
    "\xEF\xBB\xBF% file comment\n"
    "[Event \"One\"]\r\n"
    "\r\n"
    "[Result \"*\"]\r\n"
    "\r\n"
    "1. e4 { open\r\nline } e5 $1 (1... c5 2. Nf3 (2. c3) d6) 2. Nf3!? {a} {b} Nc6 1-0\r\n"
    "\r\n"
    "; between games\n"
    "[Event \"Two\"]\n"
    "[FEN \"4k3/P7/8/8/8/8/8/4K3 w - - 0 1\"]\n"
    "\n"
    "1. a8=Q+ Kd7 2. Ke3 Ke3 0-1\n"
    "\n"
    "1. d4 {bad \xFF byte} d5 *\n"
    "\n"
    "[Event \"Three\"]";

const std::vector<std::string> EXPECTED = {
    "0 [Event=One;Result=*;] " + std::string(START) +
        " | e2e4 e7e5 g1f3 b8c6 | {open\nline} {} {a b} {} 1-0 ",
    "1 [Event=Two;FEN=4k3/P7/8/8/8/8/8/4K3 w - - 0 1;] 4k3/P7/8/8/8/8/8/4K3 w - - | a7a8q e8d7 | {} {} * "
    "illegal SAN 'Ke3' at ply 3",
    "2 [] " + std::string(START) + " | d2d4 d7d5 | {bad \xEF\xBF\xBD byte} {} * ",
    "3 [Event=Three;] " + std::string(START) + " | | * ",
};

TEST(Pgn, ReadsGamesAsPythonChess) { EXPECT_EQ(read_games(GAMES), EXPECTED); }

TEST(Pgn, AnyChunkBoundaryReadsTheSame) {
    for (std::size_t cut = 0; cut <= GAMES.size(); ++cut) ASSERT_EQ(read_games(GAMES, {cut}), EXPECTED) << cut;
    for (std::size_t size = 1; size <= 9; ++size) {
        std::vector<std::size_t> cuts;
        for (std::size_t cut = size; cut < GAMES.size(); cut += size) cuts.push_back(cut);
        ASSERT_EQ(read_games(GAMES, cuts), EXPECTED) << size;
    }
}

TEST(Pgn, LineEndsOfEveryKindReadTheSame) {
    const std::string lf = "[Event \"x\"]\n\n1. e4 {a\nb} e5\n\n1. d4\n";
    for (const std::string_view end : {"\r\n", "\r"}) {
        std::string text;
        for (const char c : lf) text += c == '\n' ? std::string(end) : std::string(1, c);
        EXPECT_EQ(read_games(text), read_games(lf));
    }
    EXPECT_EQ(read_games(lf).size(), 2u);
}

TEST(Pgn, CommentsOfTheMainlineOnly) {
    const auto comments = [](std::string_view movetext) {
        const std::string game = read_games(movetext).front();
        return game.substr(game.find('{'), game.rfind('}') - game.find('{') + 1);
    };
    EXPECT_EQ(comments("{before} 1. e4 { a } {  b  } {} { } e5"), "{a  b } {}");
    EXPECT_EQ(comments("1. e4 (1. d4 {in}) {after} e5 ( {x} ) {lost}"), "{after} {}");
    EXPECT_EQ(comments("1. e4 {one\n\ntwo\n}"), "{one\n\ntwo\n}");
    EXPECT_EQ(read_games("1. e4 {kept} e5", {}, false).front(), "0 [] " + std::string(START) + " | e2e4 e7e5 | * ");
}

struct Ending {
    std::string_view text, moves, result, error;
};

TEST(Pgn, MovetextTokensAndResults) {
    const Ending table[] = {
        {"1. e4 e5 *", "e2e4 e7e5", "*", ""},
        {"[Result \"1-0\"]\n1. e4 0-1", "e2e4", "1-0", ""},
        {"[Result \"*\"]\n1. e4 * 0-1 1-0", "e2e4", "0-1", ""},
        {"1. e4 (1. d4 d5) 1/2-1/2", "e2e4", "1/2-1/2", ""},
        {"1. e4 Ke3 1-0", "e2e4", "*", "illegal SAN 'Ke3' at ply 2"},
        {"1.e4 e5 2.Nf3 Nc6$3 3.Bb5!? a6?? 4.O-O", "e2e4 e7e5 g1f3 b8c6 f1b5 a7a6 e1g1", "*", ""},
        {"1.e4e5", "", "*", "illegal SAN 'e4e5' at ply 1"},  // one token: e4 to e5
        {"1. e4 e5 2. 0-0", "e2e4 e7e5", "*", "illegal SAN '0-0' at ply 3"},
        {"1. e4 -- 2. d4", "e2e4", "*", "null move '--' at ply 2"},
        {"1. e4 N@f3", "e2e4", "*", "invalid SAN 'N@f3' at ply 2"},
        {"( e4 ) e4 e5", "e2e4", "*", "illegal SAN 'e4' at ply 2"},  // "(" before a move is passed over
        {"1. e4 ) e5 ( d5 ) ) d4", "e2e4 e7e5 d2d4", "*", ""},
        {"1. e4 ( e5 ( d4", "e2e4", "*", ""},
        {"1. e4 e5 2. Nf3 [%clk 0:01:00] ;Nc6\n2... Nf6 % not a line start\n%Bc4\n3. Bc4",
         "e2e4 e7e5 g1f3 g8f6 f1c4", "*", ""},
        {"1. Ni9 e9 z4 e4", "e2e4", "*", ""},
        {"1e4", "", "*", "illegal SAN '1e4' at ply 1"},
    };
    for (const auto& [text, moves, result, error] : table) {
        const PgnGame game = first_game(text);
        std::string played;
        for (const ChessMove move : game.moves) played += (played.empty() ? "" : " ") + move.to_string();
        EXPECT_EQ(played, moves) << text;
        EXPECT_EQ(game.result, result) << text;
        EXPECT_EQ(game.error, error) << text;
    }
}

struct Start {
    std::string_view tags, fen, error;
};

TEST(Pgn, StartsFromTheFenAndVariantTags) {
    const Start table[] = {
        {"[FEN \"4k3/8/8/8/8/8/8/R3K2R w KQ - 0 1\"]", "4k3/8/8/8/8/8/8/R3K2R w KQ -", ""},
        {"[FEN \" 4k3/8/8/8/8/8/8/4K3   b \"]", "4k3/8/8/8/8/8/8/4K3 b - -", ""},
        // Rights without their rook, and an en-passant square nobody passed.
        {"[FEN \"4k3/8/8/8/8/8/8/4K2R w KQkq d3 0 1\"]", "4k3/8/8/8/8/8/8/4K2R w K -", ""},
        {"[FEN \"4k3/8/8/3pP3/8/8/8/4K3 w - d6\"]", "4k3/8/8/3pP3/8/8/8/4K3 w - d6", ""},
        {"[FEN \"4k3/8/8/8/8/8/8/4K~3 w - - 0 1\"]", "4k3/8/8/8/8/8/8/4K3 w - -", ""},
        {"[Variant \"wild/1\"]", START, ""},
        {"[Variant \"From Position\"]\n[FEN \"4k3/8/8/8/8/8/8/4K3 w - - 0 1\"]", "4k3/8/8/8/8/8/8/4K3 w - -", ""},
        {"[Variant \"Chess960\"]", START, "unsupported variant 'Chess960'"},
        {"[Variant \"Atomic\"]\n[Variant \"Standard\"]", START, ""},
        {"[FEN \"4k3/8/8/8/8/8/8/1R2K1R1 w KQ - 0 1\"]", START,
         "unsupported Chess960 castling in FEN '4k3/8/8/8/8/8/8/1R2K1R1 w KQ - 0 1'"},
        {"[FEN \"4k3/8/8/8/8/8/8/44K3 w - - 0 1\"]", START, "invalid FEN '4k3/8/8/8/8/8/8/44K3 w - - 0 1'"},
        {"[FEN \"4k3/8/8/8/8/8/8/4K3 w - - -1 1\"]", START, "invalid FEN '4k3/8/8/8/8/8/8/4K3 w - - -1 1'"},
        {"[FEN \"4k3/8/8/8/8/8/8/4K3 w - - 0 1 x\"]", START, "invalid FEN '4k3/8/8/8/8/8/8/4K3 w - - 0 1 x'"},
        {"[FEN \"\"]", START, "invalid FEN ''"},
    };
    for (const auto& [tags, fen, error] : table) {
        const PgnGame game = first_game(std::string(tags) + "\n\n*\n");
        EXPECT_EQ(game.error, error) << tags;
        EXPECT_EQ(game.start.to_fen(), fen) << tags;
    }
    // A game that cannot be played from its start has no moves.
    EXPECT_TRUE(first_game("[FEN \"8/8/8/8/8/8/8/8 w - -\"]\n\n1. e4\n").moves.empty());
    EXPECT_TRUE(first_game("[Variant \"Atomic\"]\n\n1. e4 1-0\n").moves.empty());
    EXPECT_EQ(first_game("[Variant \"Atomic\"]\n\n1. e4 1-0\n").result, "1-0");
}

TEST(Pgn, TagLinesAsPythonChessMatchesThem) {
    const std::string games = read_games(
        "[Event \"a \"quoted\" ] value\"]  \n[Bad tag]\n[ Site \"x\"]\n[Name_+#=:- \"chars\"]\n[Tab\t\"\"]\n"
        "[NoSpace\"x\"]\n[Round \"1\"] junk\n\n1. e4\n").front();
    EXPECT_EQ(games.substr(0, games.find(']', games.find("Tab=")) + 1),
              "0 [Event=a \"quoted\" ] value;Name_+#=:-=chars;Tab=;]");
}

TEST(Pgn, HostileInputEndsInGames) {
    const std::string long_tag = "[Event \"" + std::string(300'000, 'x') + "\"]\n\n1. e4\n";
    const std::string long_token = "1. e4 " + std::string(100'000, 'N') + "f3 e5\n";
    const std::string deep = "1. e4 " + std::string(50'000, '(') + " e5 " + std::string(50'000, ')') + " d5\n";
    const std::string nul("1. e4 \0 e5 {\0} \0\n\n\0\n", 20);
    const std::pair<std::string, std::size_t> table[] = {
        {long_tag, 1},
        {long_token, 1},
        {deep, 1},
        {nul, 2},
        {"1. e4 { never closes\n\n[Event \"swallowed\"]\n\n1. d4\n", 1},
        {"1. e4 } e5 }} {{ x }\n\n1. d4 }\n", 2},
        {"[Event \"\xC3\x28 \xE2\x82\"]\n[\xFF \"x\"]\n\n1. e4 {\xF0\x9F\x98}\n", 1},
        {std::string(1000, '\n') + "% x\n;\n", 0},
        {"\r\r\r\n\n\r", 0},
    };
    for (const auto& [text, count] : table) {
        const auto games = read_games(text);
        EXPECT_EQ(games.size(), count) << text.substr(0, 40);
        for (const std::string& game : games) EXPECT_LT(game.size(), text.size() + 200);
    }
    EXPECT_NE(read_games(long_tag).front().find("Event=" + std::string(300'000, 'x') + ";"), std::string::npos);
    EXPECT_NE(read_games("[Event \"\xC3\x28 \xE2\x82\"]\n").front().find("\xEF\xBF\xBD( \xEF\xBF\xBD;"), std::string::npos);
}

// Only the line being read stays buffered, and the game record keeps its
// size: a long stream of games needs no more memory than one game.
TEST(Pgn, MemoryStaysWithTheGameBeingRead) {
    const std::string game = "[Event \"x\"]\n\n1. e4 e5 2. Nf3 Nc6 3. Bb5 a6 { [%clk 0:01:00] } 1-0\n\n";
    std::string stream;
    for (int i = 0; i < 200; ++i) stream += game;
    PgnReader reader(generator(), {.comments = true});
    PgnGame record;
    std::size_t games = 0, most_pending = 0, capacity = 0;
    for (int round = 0; round < 50; ++round) {
        for (std::size_t pos = 0; pos < stream.size(); pos += 4096) {
            reader.feed(stream.data() + pos, std::min<std::size_t>(4096, stream.size() - pos));
            while (reader.next(record)) {
                ++games;
                if (games == 2) capacity = record.moves.capacity() + record.text.capacity();
            }
            most_pending = std::max(most_pending, reader.pending());
        }
    }
    EXPECT_EQ(games, 10'000u);
    EXPECT_LT(most_pending, game.size());
    EXPECT_EQ(record.moves.capacity() + record.text.capacity(), capacity);
}

}  // namespace
}  // namespace mirelo
