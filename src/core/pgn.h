// A streaming reader of PGN game collections. It reads each game's mainline
// exactly as python-chess's chess.pgn.read_game reads it from a file opened
// in text mode (UTF-8 with replacement, universal newlines): the same
// beginning and end of every game, the same tags, the same moves and the
// same comments after them. Bytes arrive in chunks of any size; only the game
// being read and the line being read are held, so memory is bounded by the
// largest game, not by the input.
//
//     PgnReader reader(generator, {.comments = true});
//     PgnGame game;
//     for (each chunk) {
//         reader.feed(chunk.data(), chunk.size());
//         while (reader.next(game)) use(game);
//     }
//     reader.finish();
//     while (reader.next(game)) use(game);
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

#include "board.h"
#include "chess_move.h"
#include "move_generator.h"
#include "san.h"

namespace mirelo {

struct PgnOptions {
    bool comments = false;  // keep the comment after each mainline move
};

// A piece of PgnGame::text.
struct TextSpan {
    std::size_t begin = 0;
    std::size_t size = 0;
};

struct PgnTag {
    TextSpan name, value;
};

// One game as read. A reader hands its games out in a record of the caller's
// that it swaps with its own, so the buffers of both keep their capacity and
// reading allocates nothing in the steady state.
struct PgnGame {
    std::size_t index = 0;         // from 0, in input order
    std::string text;              // the tag names and values and the comments, well-formed UTF-8
    std::vector<PgnTag> tags;      // in input order, a repeated name each time it appears
    Board start;                   // the standard start, or the position of the FEN tag
    std::vector<ChessMove> moves;  // the mainline, or its moves before the error
    // With PgnOptions::comments, one per move: the brace comments after it,
    // each without one space after "{" and one before "}", joined by a space.
    std::vector<TextSpan> comments;
    // The last Result tag; where there is none or it is "*", the first
    // termination marker of the mainline that is not "*"; else "*".
    std::string result;
    // Empty when the whole mainline was read. Otherwise one line naming the
    // reason: the ply and the text of the first move that cannot be played
    // ("illegal SAN 'Ke3' at ply 3"), or a Variant or FEN tag that this
    // library cannot play from (then there are no moves).
    std::string error;

    std::string_view view(TextSpan span) const { return {text.data() + span.begin, span.size}; }

    // The value of the last tag with the given name, if there is one.
    const PgnTag* find_tag(std::string_view name) const;

    void clear();
};

class PgnReader {
public:
    explicit PgnReader(const MoveGenerator& generator, PgnOptions options = {});

    // Appends input bytes; any boundary is fine, within a line, a UTF-8
    // sequence or a CRLF.
    void feed(const char* data, std::size_t size);

    // Marks the end of the input: the last line and game may end without a
    // line break.
    void finish();

    // Moves the next complete game into game and returns true, or returns
    // false when the bytes fed so far hold no further complete game.
    bool next(PgnGame& game);

    // Bytes fed and not yet read into a game (the game and line being read).
    std::size_t pending() const { return buffer_.size() - consumed_; }

private:
    enum class Phase : std::uint8_t {
        game_start,  // the first line of the next game
        leading,     // blank lines and "%" or ";" lines before a game
        tags,
        movetext,
        comment,     // inside a brace comment that goes on over lines
    };
    struct Line {
        const char* begin;
        const char* end;  // the line break excluded
        bool broken;      // ended by a line break rather than the input's end
    };

    bool take_line(Line& line);
    bool read_line(const Line& line);  // true when the line ends the game
    void begin_game();
    void read_tag(const Line& line);
    void begin_movetext();
    bool read_movetext_line(const Line& line);
    void read_tokens(const char* p, const char* end, bool broken);
    const char* read_comment_start(const char* p, const char* end, bool broken);
    void read_comment_line(const Line& line);
    void add_comment_part(const char* begin, const char* end, bool line_break);
    void end_comment();
    void read_move(const std::expected<SanParts, SanError>& parts, std::string_view token);
    void read_result(std::string_view token);
    void open_variation();
    void close_variation();
    void fail(std::string message);
    void deliver(PgnGame& game);

    const MoveGenerator& generator_;
    PgnOptions options_;
    Board standard_start_;

    std::string buffer_;
    std::size_t consumed_ = 0;  // bytes of buffer_ read
    std::size_t scanned_ = 0;   // bytes of buffer_ known to hold no line break
    bool finished_ = false;

    Phase phase_ = Phase::game_start;
    std::size_t games_ = 0;
    PgnGame game_;
    // The position before the next move and a place for the one after it.
    Position positions_[2];
    unsigned current_ = 0;
    bool blank_line_seen_ = false;  // among the tags, since the last tag line
    bool ignoring_ = false;         // the rest of the movetext is skipped
    // A game of another variant: its moves are counted but not played, as
    // python-chess still reads its variations and termination markers.
    bool unplayed_ = false;
    std::uint32_t unplayed_moves_ = 0;
    // The number of moves on the board of each open variation: a "(" opens a
    // variation only after a move, like python-chess's board stack.
    std::vector<std::uint32_t> variations_;
    // Whether a move was read since the last variation opened; where it was
    // not, a comment after the variation is no mainline move's.
    bool moved_since_variation_ = false;
    bool keep_comment_ = false;  // the brace comment being read belongs to the last move
    std::size_t comment_mark_ = 0;
};

}  // namespace mirelo
