#include "pgn.h"

#include <array>
#include <cstring>
#include <limits>

#include "failure.h"
#include "pgn_start.h"
#include "text.h"

namespace mirelo {

namespace {

// What a movetext byte can start, after python-chess's token pattern: a SAN
// move, a drop, a null move, castling, a comment, a NAG, a parenthesis or a
// termination marker. Glyphs ("!", "?!") and everything else are passed over.
enum ByteClass : std::uint8_t {
    PASSED_OVER,
    SAN_ONLY,      // a-h, 2-8, "x": only a SAN move starts here
    PIECE_LETTER,  // NBKRQ: a SAN move or a drop
    PAWN_LETTER,   // P: a drop
    ONE,           // a SAN move ("1e4" is one), "1-0" or "1/2-1/2"
    ZERO,          // "0000", "0-0-0", "0-0", "0-1"
    DASH,          // a SAN move ("-e4") or "--"
    AT,            // a drop ("@e4") or "@@@@"
    ZED,           // "Z0"
    OH,            // "O-O-O", "O-O"
    BRACE,
    SEMICOLON,
    DOLLAR,
    OPEN,
    CLOSE,
    STAR,
};

constexpr std::array<ByteClass, 256> make_byte_classes() {
    struct Group {
        std::string_view bytes;
        ByteClass c;
    };
    constexpr Group GROUPS[] = {
        {"abcdefgh2345678x", SAN_ONLY}, {"NBKRQ", PIECE_LETTER}, {"P", PAWN_LETTER}, {"1", ONE}, {"0", ZERO},
        {"-", DASH}, {"@", AT}, {"Z", ZED}, {"O", OH}, {"{", BRACE}, {";", SEMICOLON}, {"$", DOLLAR},
        {"(", OPEN}, {")", CLOSE}, {"*", STAR},
    };
    std::array<ByteClass, 256> classes{};
    for (const Group& group : GROUPS)
        for (const char byte : group.bytes) classes[static_cast<unsigned char>(byte)] = group.c;
    return classes;
}

constexpr std::array<ByteClass, 256> BYTE_CLASSES = make_byte_classes();

constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool starts_with(const char* p, const char* end, std::string_view text) {
    return static_cast<std::size_t>(end - p) >= text.size() && std::memcmp(p, text.data(), text.size()) == 0;
}

// The length of a drop ([PNBRQK]?@[a-h][1-8]) at p, or 0.
std::size_t drop_length(const char* p, const char* end) {
    const std::size_t letter = BYTE_CLASSES[static_cast<unsigned char>(*p)] == PIECE_LETTER || *p == 'P';
    if (end - p < static_cast<std::ptrdiff_t>(letter + 3) || p[letter] != '@') return 0;
    const char file = p[letter + 1], rank = p[letter + 2];
    return file >= 'a' && file <= 'h' && rank >= '1' && rank <= '8' ? letter + 3 : 0;
}

constexpr std::string_view UTF8_BOM = "\xEF\xBB\xBF";

// A line of only white space, as str.isspace sees it (a line always has its
// line break, or at least one character).
bool is_blank(const char* begin, const char* end) { return skip_python_space(begin, end) == end; }

bool is_alphanumeric(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || is_digit(c); }

bool is_tag_name_char(char c) {
    return is_alphanumeric(c) || c == '_' || c == '+' || c == '#' || c == '=' || c == ':' || c == '-';
}

// python-chess's tag pattern ^\[([A-Za-z0-9][A-Za-z0-9_+#=:-]*)\s+"([^\r]*)"\]\s*$
// on one line: the value runs from the first quote to the last "]" that
// only white space follows. Universal newlines leave no "\r" in a line.
bool match_tag(const char* begin, const char* end, std::string_view& name, std::string_view& value) {
    if (end - begin < 2 || begin[0] != '[' || !is_alphanumeric(begin[1])) return false;
    const char* name_end = begin + 2;
    while (name_end < end && is_tag_name_char(*name_end)) ++name_end;
    const char* quote = skip_python_space(name_end, end);
    if (quote == name_end || quote == end || *quote != '"') return false;
    const char* value_begin = quote + 1;
    const char* last = python_text_end(value_begin, end);
    if (last - value_begin < 2 || last[-1] != ']' || last[-2] != '"') return false;
    name = std::string_view(begin + 1, static_cast<std::size_t>(name_end - begin - 1));
    value = std::string_view(value_begin, static_cast<std::size_t>(last - 2 - value_begin));
    return true;
}

}  // namespace

const PgnTag* PgnGame::find_tag(std::string_view name) const {
    for (auto tag = tags.rbegin(); tag != tags.rend(); ++tag)
        if (view(tag->name) == name) return &*tag;
    return nullptr;
}

void PgnGame::clear() {
    text.clear();
    tags.clear();
    moves.clear();
    comments.clear();
    result.clear();
    error.clear();
}

PgnReader::PgnReader(const MoveGenerator& generator, PgnOptions options)
    : generator_(generator), options_(options), standard_start_(Board::from_fen(DEFAULT_FEN).value()) {}

void PgnReader::feed(const char* data, std::size_t size) {
    if (finished_) mirelo::fail("PGN input fed after its end");
    // Only the line being read stays; it moves to the front.
    if (consumed_) {
        buffer_.erase(0, consumed_);
        scanned_ -= consumed_;
        consumed_ = 0;
    }
    buffer_.append(data, size);
}

void PgnReader::finish() { finished_ = true; }

bool PgnReader::take_line(Line& line) {
    const char* base = buffer_.data();
    const char* end = base + buffer_.size();
    if (consumed_ == buffer_.size()) return false;
    // Universal newlines: "\n", "\r\n" and a lone "\r" each end a line.
    const char* from = base + scanned_;
    const auto* lf = static_cast<const char*>(std::memchr(from, '\n', static_cast<std::size_t>(end - from)));
    const char* limit = lf ? lf : end;
    const auto* cr = static_cast<const char*>(std::memchr(from, '\r', static_cast<std::size_t>(limit - from)));
    const char* brk = cr ? cr : lf;
    if (!brk) {
        scanned_ = buffer_.size();
        if (!finished_) return false;
        line = {base + consumed_, end, false};
        consumed_ = buffer_.size();
        return true;
    }
    std::size_t next = static_cast<std::size_t>(brk - base) + 1;
    if (*brk == '\r') {
        if (brk + 1 == end && !finished_) {
            scanned_ = static_cast<std::size_t>(brk - base);  // is a "\n" next?
            return false;
        }
        if (brk + 1 < end && brk[1] == '\n') ++next;
    }
    line = {base + consumed_, brk, true};
    consumed_ = scanned_ = next;
    return true;
}

bool PgnReader::next(PgnGame& game) {
    Line line;
    while (take_line(line))
        if (read_line(line)) {
            deliver(game);
            return true;
        }
    if (!finished_) return false;
    // The input has ended, and with it the game being read, if any.
    switch (phase_) {
        case Phase::game_start:
        case Phase::leading:
            return false;
        case Phase::tags:
            begin_movetext();
            break;
        case Phase::comment:
            end_comment();
            break;
        case Phase::movetext:
            break;
    }
    deliver(game);
    return true;
}

void PgnReader::deliver(PgnGame& game) {
    std::swap(game, game_);
    game_.clear();
    ++games_;
    phase_ = Phase::game_start;
}

bool PgnReader::read_line(const Line& line) {
    const char* begin = line.begin;
    switch (phase_) {
        case Phase::game_start:
            // Each game's first line loses its byte order marks.
            while (starts_with(begin, line.end, UTF8_BOM)) begin += UTF8_BOM.size();
            phase_ = Phase::leading;
            [[fallthrough]];
        case Phase::leading:
            if (begin < line.end && (*begin == '%' || *begin == ';')) return false;
            if (is_blank(begin, line.end)) return false;
            begin_game();
            phase_ = Phase::tags;
            [[fallthrough]];
        case Phase::tags:
            if (begin < line.end && (*begin == '%' || *begin == ';')) return false;
            // One blank line may stand between two tags.
            if (!blank_line_seen_ && is_blank(begin, line.end)) {
                blank_line_seen_ = true;
                return false;
            }
            if (begin == line.end || *begin != '[') {
                begin_movetext();
                phase_ = Phase::movetext;
                return read_movetext_line({begin, line.end, line.broken});
            }
            blank_line_seen_ = false;
            read_tag({begin, line.end, line.broken});
            return false;
        case Phase::movetext:
            return read_movetext_line(line);
        case Phase::comment:
            read_comment_line(line);
            return false;
    }
    return false;
}

void PgnReader::begin_game() {
    game_.clear();
    game_.index = games_;
    blank_line_seen_ = false;
    ignoring_ = false;
    unplayed_ = false;
    unplayed_moves_ = 0;
    variations_.clear();
    moved_since_variation_ = false;
}

void PgnReader::read_tag(const Line& line) {
    std::string_view name, value;
    if (!match_tag(line.begin, line.end, name, value)) return;  // python-chess passes it over
    std::string& text = game_.text;
    const std::size_t name_begin = text.size();
    text.append(name);
    const std::size_t value_begin = text.size();
    append_utf8_replacing(text, value);
    game_.tags.push_back({{name_begin, name.size()}, {value_begin, text.size() - value_begin}});
}

void PgnReader::begin_movetext() {
    const PgnTag* result = game_.find_tag("Result");
    game_.result = result ? game_.view(result->value) : "*";
    game_.start = standard_start_;
    const PgnTag* variant = game_.find_tag("Variant");
    if (variant && !is_standard_variant(game_.view(variant->value))) {
        game_.error = "unsupported variant " + quoted(game_.view(variant->value));
        unplayed_ = true;
    } else if (const PgnTag* fen = game_.find_tag("FEN")) {
        auto start = start_from_fen_tag(game_.view(fen->value));
        if (start) {
            game_.start = std::move(*start);
        } else {
            // python-chess reads a game with Chess960 castling rights as a
            // Chess960 game, and skips one with a FEN it cannot read.
            unplayed_ = start.error().starts_with(CHESS960_CASTLING);
            game_.error = std::move(start.error());
            ignoring_ = !unplayed_;
        }
    }
    positions_[current_] = game_.start;
}

bool PgnReader::read_movetext_line(const Line& line) {
    if (line.begin < line.end && (*line.begin == '%' || *line.begin == ';')) return false;
    if (is_blank(line.begin, line.end)) return true;  // the end of the game
    read_tokens(line.begin, line.end, line.broken);
    return false;
}

void PgnReader::read_tokens(const char* p, const char* end, bool broken) {
    // At each byte the first alternative of python-chess's token pattern that
    // matches there is taken; where none does, the byte is passed over.
    while (p < end) {
        const ByteClass c = BYTE_CLASSES[static_cast<unsigned char>(*p)];
        if (c == PASSED_OVER) {
            ++p;
            continue;
        }
        SanParts parts;
        std::size_t length = 0;
        switch (c) {
            case BRACE:
                p = read_comment_start(p, end, broken);
                if (!p) return;  // it goes on over the next lines
                continue;
            case SEMICOLON:
                return;
            case OPEN:
                open_variation();
                ++p;
                continue;
            case CLOSE:
                close_variation();
                ++p;
                continue;
            case DOLLAR:
                for (++p; p < end && is_digit(*p);) ++p;
                continue;
            case STAR:
                read_result("*");
                ++p;
                continue;
            case SAN_ONLY:
            case PIECE_LETTER:
            case ONE:
            case DASH:
                // A move that starts with its from-rank goes on with a
                // separator or the target's file; move numbers do not.
                if (*p < '1' || *p > '8' || (p + 1 < end && ((p[1] >= 'a' && p[1] <= 'h') || p[1] == 'x' ||
                                                             p[1] == '-')))
                    length = match_san_move(p, end, parts);
                break;
            default:
                break;
        }
        if (length) {
            read_move(parts, {p, length});
            p += length;
            continue;
        }
        // The literal tokens, in the pattern's order: null moves, castling,
        // termination markers.
        std::string_view token;
        bool marker = false;
        const auto take = [&](std::string_view literal, bool is_marker) {
            if (!token.empty() || !starts_with(p, end, literal)) return;
            token = literal;
            marker = is_marker;
        };
        switch (c) {
            case PIECE_LETTER:
            case PAWN_LETTER:
            case AT:
                if (const std::size_t drop = drop_length(p, end)) {
                    read_move(std::unexpected(SanError::invalid), {p, drop});
                    p += drop;
                    continue;
                }
                take("@@@@", false);
                break;
            case DASH: take("--", false); break;
            case ZED: take("Z0", false); break;
            case ZERO:
                take("0000", false);
                take("0-0-0", false);
                take("0-0", false);
                take("0-1", true);
                break;
            case OH:
                take("O-O-O", false);
                take("O-O", false);
                break;
            case ONE:
                take("1-0", true);
                take("1/2-1/2", true);
                break;
            default:
                break;
        }
        if (token.empty()) {
            ++p;
            continue;
        }
        if (marker)
            read_result(token);
        else
            read_move(split_san(token), token);
        p += token.size();
    }
}

const char* PgnReader::read_comment_start(const char* p, const char* end, bool broken) {
    // Only the comments of the last mainline move are kept, as python-chess
    // keeps them: not those before the first move, in a variation, or after
    // an empty variation that no move followed.
    keep_comment_ = options_.comments && !ignoring_ && variations_.empty() && moved_since_variation_ &&
                    !game_.moves.empty();
    if (keep_comment_) {
        comment_mark_ = game_.text.size();
        if (game_.comments.back().size) game_.text += ' ';
    }
    const char* start = p + 1;
    if (start < end && *start == ' ') ++start;
    const auto* close = static_cast<const char*>(std::memchr(start, '}', static_cast<std::size_t>(end - start)));
    if (!close) {
        add_comment_part(start, end, broken);
        phase_ = Phase::comment;
        return nullptr;
    }
    add_comment_part(start, close - (close > start && close[-1] == ' '), false);
    end_comment();
    return close + 1;
}

void PgnReader::read_comment_line(const Line& line) {
    const auto* close =
        static_cast<const char*>(std::memchr(line.begin, '}', static_cast<std::size_t>(line.end - line.begin)));
    if (!close) return add_comment_part(line.begin, line.end, line.broken);
    add_comment_part(line.begin, close - (close > line.begin && close[-1] == ' '), false);
    end_comment();
    phase_ = Phase::movetext;
    read_tokens(close + 1, line.end, line.broken);
}

void PgnReader::add_comment_part(const char* begin, const char* end, bool line_break) {
    if (!keep_comment_) return;
    append_utf8_replacing(game_.text, {begin, static_cast<std::size_t>(end - begin)});
    if (line_break) game_.text += '\n';
}

void PgnReader::end_comment() {
    if (!keep_comment_) return;
    // python-chess joins the non-empty comments of a move with one space.
    TextSpan& comment = game_.comments.back();
    const std::size_t separator = comment.size ? 1 : 0;
    if (game_.text.size() == comment_mark_ + separator)
        game_.text.resize(comment_mark_);
    else
        comment.size = game_.text.size() - comment.begin;
    keep_comment_ = false;
}

void PgnReader::read_move(const std::expected<SanParts, SanError>& parts, std::string_view token) {
    if (ignoring_) return;
    if (!variations_.empty() || unplayed_) {
        // Moves of variations and of other variants are not checked; each
        // one is on its board.
        std::uint32_t& moves = variations_.empty() ? unplayed_moves_ : variations_.back();
        if (moves < std::numeric_limits<std::uint32_t>::max()) ++moves;
        moved_since_variation_ = true;
        return;
    }
    const std::size_t ply = game_.moves.size() + 1;
    if (!parts) return fail(san_error_at_ply(parts.error(), token, ply));
    // FEN tags hold eight squares a rank, and moves keep squares apart.
    const auto move = resolve_san(generator_, positions_[current_], *parts, positions_[current_ ^ 1], true);
    if (!move) return fail(san_error_at_ply(move.error(), token, ply));
    game_.moves.push_back(*move);
    current_ ^= 1;
    if (options_.comments) game_.comments.push_back({game_.text.size(), 0});
    moved_since_variation_ = true;
}

void PgnReader::read_result(std::string_view token) {
    if (ignoring_ || !variations_.empty()) return;
    if (game_.result == "*") game_.result = token;
}

void PgnReader::open_variation() {
    if (ignoring_) return;
    // A variation replaces the last move on the board it branches from; with
    // no move there, the "(" is passed over.
    const std::uint32_t moves = !variations_.empty() ? variations_.back()
                                : unplayed_             ? unplayed_moves_
                                                        : static_cast<std::uint32_t>(std::min<std::size_t>(
                                                              game_.moves.size(), std::numeric_limits<std::uint32_t>::max()));
    if (moves == 0) return;
    variations_.push_back(moves - 1);
    moved_since_variation_ = false;
}

void PgnReader::close_variation() {
    if (!ignoring_ && !variations_.empty()) variations_.pop_back();
}

void PgnReader::fail(std::string message) {
    game_.error = std::move(message);
    ignoring_ = true;
}

}  // namespace mirelo
