// FEN reading and writing on arbitrary bytes.
//
// Every input is read three ways: by pieces_from_fen, by Board::from_fen and by
// a small reference reader written here from the rules of the format (four
// white-space separated fields, board field read from rank 1 with a square
// counter modulo 64, lenient side/castling/en-passant fields). The outcomes
// must agree exactly: the same failure message, the same error text, or the
// same pieces, info word and keys. A board that was read is then written,
// compared with a reference writer, read back and written again.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "board.h"
#include "encoding.h"
#include "failure.h"
#include "fuzz_common.h"
#include "zobrist.h"

using mirelo::Bitboard;
using mirelo::Board;

namespace {

// A well-formed UTF-8 sequence at pos, or the single byte as U+FFFD.
std::pair<char32_t, std::size_t> decode(std::string_view s, std::size_t pos) {
    const auto at = [&](std::size_t i) -> unsigned { return static_cast<unsigned char>(s[pos + i]); };
    const std::size_t left = s.size() - pos;
    const unsigned b0 = at(0);
    const auto cont = [&](std::size_t i, unsigned lo = 0x80, unsigned hi = 0xBF) {
        return i < left && at(i) >= lo && at(i) <= hi;
    };
    if (b0 < 0x80) return {b0, 1};
    if (b0 >= 0xC2 && b0 <= 0xDF && cont(1)) return {((b0 & 0x1F) << 6) | (at(1) & 0x3F), 2};
    if (b0 >= 0xE0 && b0 <= 0xEF) {
        const unsigned lo = b0 == 0xE0 ? 0xA0 : 0x80, hi = b0 == 0xED ? 0x9F : 0xBF;
        if (cont(1, lo, hi) && cont(2)) return {((b0 & 0x0F) << 12) | ((at(1) & 0x3F) << 6) | (at(2) & 0x3F), 3};
    }
    if (b0 >= 0xF0 && b0 <= 0xF4) {
        const unsigned lo = b0 == 0xF0 ? 0x90 : 0x80, hi = b0 == 0xF4 ? 0x8F : 0xBF;
        if (cont(1, lo, hi) && cont(2) && cont(3))
            return {((b0 & 0x07) << 18) | ((at(1) & 0x3F) << 12) | ((at(2) & 0x3F) << 6) | (at(3) & 0x3F), 4};
    }
    return {0xFFFD, 1};
}

bool white_space(char32_t c) {
    switch (c) {
        case 0x09: case 0x0A: case 0x0B: case 0x0C: case 0x0D: case 0x20: case 0x85: case 0xA0:
        case 0x1680: case 0x2028: case 0x2029: case 0x202F: case 0x205F: case 0x3000:
            return true;
        default:
            return c >= 0x2000 && c <= 0x200A;
    }
}

std::vector<std::string_view> fields_of(std::string_view text) {
    std::vector<std::string_view> fields;
    std::size_t start = std::string_view::npos;
    for (std::size_t pos = 0; pos < text.size();) {
        const auto [c, length] = decode(text, pos);
        if (white_space(c)) {
            if (start != std::string_view::npos) fields.push_back(text.substr(start, pos - start));
            start = std::string_view::npos;
        } else if (start == std::string_view::npos) {
            start = pos;
        }
        pos += length;
    }
    if (start != std::string_view::npos) fields.push_back(text.substr(start));
    return fields;
}

std::vector<std::string_view> split_slashes(std::string_view text) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == '/') {
            parts.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    return parts;
}

// The outcome of reading a text: a failure message, an error text, or a board.
struct Outcome {
    enum Kind { failure, error, board } kind;
    std::string message;
    std::array<Bitboard, 12> pieces{};
    std::uint64_t info = 0;
};

std::optional<std::array<Bitboard, 12>> reference_board_field(std::string_view field) {
    std::array<Bitboard, 12> pieces{};
    std::uint32_t counter = 0;
    const auto parts = split_slashes(field);
    for (std::size_t k = parts.size(); k-- > 0;) {
        for (const char c : parts[k]) {
            if (c >= '0' && c <= '9') {
                counter += static_cast<std::uint32_t>(c - '0');
                continue;
            }
            const char* letters = "PNBRQKpnbrqk";
            std::size_t index = 12;
            for (std::size_t i = 0; i < 12; ++i)
                if (letters[i] == c) index = i;
            if (index == 12) return std::nullopt;
            pieces[index] |= Bitboard{1} << (counter % 64);
            ++counter;
        }
    }
    return pieces;
}

Outcome reference_read(std::string_view text) {
    const auto fields = fields_of(text);
    if (fields.empty()) return {Outcome::failure, "Missing FEN field: board"};
    const auto pieces = reference_board_field(fields[0]);
    if (!pieces) return {Outcome::failure, "Invalid piece type"};
    Outcome out{Outcome::board, "", *pieces, 0};
    if (fields.size() < 2) return {Outcome::failure, "Missing FEN field: side to move"};
    if (fields[1] == "w")
        out.info = 1;
    else if (fields[1] != "b")
        return {Outcome::error, "Invalid side-to-move"};
    if (fields.size() < 3) return {Outcome::failure, "Missing FEN field: castling"};
    for (const char c : fields[2]) {
        if (c == '-') break;
        const char* rights = "KQkq";
        const char* at = c ? std::strchr(rights, c) : nullptr;
        if (at == nullptr) return {Outcome::error, "Invalid castling specifier"};
        out.info |= std::uint64_t{1} << (1 + (at - rights));
    }
    if (fields.size() < 4) return {Outcome::failure, "Missing FEN field: en passant"};
    if (fields[3] != "-") {
        const std::uint64_t c = decode(fields[3], 0).first;
        out.info |= std::uint64_t{1} << ((c + 36 + 8 * (out.info & 1 ? 0 : 1)) % 64);
    }
    return out;
}

std::string reference_write(const std::array<Bitboard, 12>& pieces, std::uint64_t info) {
    std::string text;
    const char* letters = "PNBRQKpnbrqk";
    for (int rank = 7; rank >= 0; --rank) {
        int empty = 0;
        for (int file = 0; file < 8; ++file) {
            const unsigned square = static_cast<unsigned>(rank * 8 + file);
            int piece = -1;
            for (int p = 0; p < 12 && piece < 0; ++p)
                if ((pieces[static_cast<std::size_t>(p)] >> square) & 1) piece = p;
            if (piece < 0) {
                ++empty;
                continue;
            }
            if (empty) text += std::to_string(empty), empty = 0;
            text += letters[piece];
        }
        if (empty) text += std::to_string(empty);
        if (rank) text += '/';
    }
    const bool white = info & 1;
    text += white ? " w " : " b ";
    std::string castling;
    for (unsigned bit = 1; bit <= 4; ++bit)
        if ((info >> bit) & 1) castling += "KQkq"[bit - 1];
    text += castling.empty() ? "-" : castling;
    text += ' ';
    const unsigned base = white ? 5 : 13;
    std::string ep = "-";
    for (unsigned f = 0; f < 8; ++f) {
        if ((info >> (base + f)) & 1) {
            ep = std::string(1, static_cast<char>('a' + f)) + (white ? '6' : '3');
            break;
        }
    }
    return text + ep;
}

// What a FEN round trip keeps: the lowest piece on every square, the side,
// the rights and the lowest en-passant file of the side to move.
std::pair<std::array<Bitboard, 12>, std::uint64_t> normalised(const std::array<Bitboard, 12>& pieces,
                                                              std::uint64_t info) {
    std::array<Bitboard, 12> out{};
    Bitboard seen = 0;
    for (std::size_t p = 0; p < 12; ++p) {
        out[p] = pieces[p] & ~seen;
        seen |= pieces[p];
    }
    const bool white = info & 1;
    const unsigned base = white ? 5 : 13;
    std::uint64_t kept = info & 0x1F;
    const std::uint64_t files = (info >> base) & 0xFF;
    if (files) kept |= (files & (~files + 1)) << base;
    return {out, kept};
}

void check_planes(const std::array<Bitboard, 12>& pieces) {
    mirelo::Planes planes;
    planes.fill(0xAA);
    mirelo::write_planes(pieces, mirelo::PlaneElement::byte, planes.data());
    for (std::size_t p = 0; p < 12; ++p)
        for (std::size_t s = 0; s < 64; ++s)
            FUZZ_CHECK(planes[p * 64 + s] == ((pieces[p] >> s) & 1), "plane " + std::to_string(p) + " square " +
                                                                        std::to_string(s));
}

Outcome read_board(std::string_view text, std::optional<Board>& board) {
    try {
        auto read = Board::from_fen(text);
        if (!read) return {Outcome::error, read.error()};
        board.emplace(std::move(*read));
        return {Outcome::board, "", board->pieces, board->info};
    } catch (const mirelo::Failure& failure) {
        return {Outcome::failure, failure.message()};
    }
}

void check_text(std::string_view text) {
    const Outcome expected = reference_read(text);
    std::optional<Board> board;
    const Outcome got = read_board(text, board);
    const std::string input = "input \"" + fuzz::printable(text) + "\"";
    FUZZ_CHECK(got.kind == expected.kind && got.message == expected.message,
               input + ": expected kind " + std::to_string(expected.kind) + " \"" + expected.message + "\", got kind " +
                   std::to_string(got.kind) + " \"" + got.message + "\"");

    // pieces_from_fen reads the same first field, and nothing else.
    std::optional<std::array<Bitboard, 12>> planes_pieces;
    std::string planes_failure;
    try {
        planes_pieces = mirelo::pieces_from_fen(text);
    } catch (const mirelo::Failure& failure) {
        planes_failure = failure.message();
    }
    const auto fields = fields_of(text);
    if (fields.empty()) {
        FUZZ_CHECK(planes_failure == "Missing FEN field: board", input + ": got \"" + planes_failure + "\"");
    } else if (const auto ref = reference_board_field(fields[0])) {
        FUZZ_CHECK(planes_pieces && *planes_pieces == *ref, input + ": pieces_from_fen differs");
        check_planes(*planes_pieces);
    } else {
        FUZZ_CHECK(planes_failure == "Invalid piece type", input + ": got \"" + planes_failure + "\"");
    }

    if (!board) return;
    FUZZ_CHECK(board->pieces == expected.pieces, input + ": pieces " + fuzz::describe(*board));
    FUZZ_CHECK(board->info == expected.info,
               input + ": info " + fuzz::hex(board->info) + " expected " + fuzz::hex(expected.info));
    FUZZ_CHECK(board->history.empty() && board->history.size() == 0, input);
    const auto keys = fuzz::recomputed_keys(*board);
    FUZZ_CHECK(keys.first == board->zobrist.z_key && keys.second == board->zobrist.z_key16,
               input + ": keys " + fuzz::describe(*board));

    // Writing: the exact text of the reference writer, within the capacity.
    char buffer[mirelo::FEN_CAPACITY];
    const std::size_t length = board->write_fen(buffer);
    FUZZ_CHECK(length <= mirelo::FEN_CAPACITY, input);
    const std::string written(buffer, length);
    FUZZ_CHECK(written == reference_write(board->pieces, board->info),
               input + ": wrote \"" + written + "\" expected \"" + reference_write(board->pieces, board->info) + "\"");
    FUZZ_CHECK(board->to_fen() == written, input);

    // Reading the text back keeps exactly what FEN can say; writing it again
    // gives the same text.
    std::optional<Board> again;
    const Outcome reread = read_board(written, again);
    FUZZ_CHECK(reread.kind == Outcome::board, input + ": written text \"" + written + "\" rejected: " + reread.message);
    const auto [pieces, info] = normalised(board->pieces, board->info);
    FUZZ_CHECK(again->pieces == pieces && again->info == info,
               input + ": round trip of \"" + written + "\" gave " + fuzz::describe(*again));
    if (fuzz::well_formed(board->pieces, board->info))
        FUZZ_CHECK(again->pieces == board->pieces && again->info == board->info, input + ": well-formed round trip");
    FUZZ_CHECK(again->to_fen() == written, input + ": second write \"" + again->to_fen() + "\"");
    const auto again_keys = fuzz::recomputed_keys(*again);
    FUZZ_CHECK(again_keys.first == again->zobrist.z_key && again_keys.second == again->zobrist.z_key16, input);

    // A copy is equal and shares the tables.
    const Board copy = *board;
    FUZZ_CHECK(fuzz::same_state(copy, *board) && copy.zobrist.z64 == board->zobrist.z64, input);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    check_text(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
