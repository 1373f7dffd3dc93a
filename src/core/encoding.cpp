#include "encoding.h"

#include <array>
#include <cstring>
#include <vector>

#include "failure.h"

namespace mirelo {

namespace {

// ---------------------------------------------------------------------------
// Planes

// Element k of entry v is one when bit k of v is set, else zero: one table
// read gives the elements of eight squares.
template <typename Element, Element one>
constexpr std::array<std::array<Element, 8>, 256> make_spread() {
    std::array<std::array<Element, 8>, 256> table{};
    for (unsigned v = 0; v < 256; ++v)
        for (unsigned k = 0; k < 8; ++k) table[v][k] = (v >> k) & 1 ? one : Element{};
    return table;
}

template <typename Element, Element one>
void spread(const Pieces& pieces, unsigned char* out) {
    static constexpr auto table = make_spread<Element, one>();
    constexpr std::size_t row = sizeof table[0];
    for (std::size_t p = 0; p < PIECE_NB; ++p)
        for (std::size_t r = 0; r < 8; ++r)
            std::memcpy(out + (8 * p + r) * row, &table[(pieces[p] >> (8 * r)) & 0xFF], row);
}

constexpr std::uint16_t HALF_ONE = 0x3C00;  // 1.0 in binary16

}  // namespace

void write_planes(const Pieces& pieces, PlaneElement element, void* out) {
    auto* bytes = static_cast<unsigned char*>(out);
    switch (element) {
        case PlaneElement::byte: return spread<std::uint8_t, 1>(pieces, bytes);
        case PlaneElement::half: return spread<std::uint16_t, HALF_ONE>(pieces, bytes);
        case PlaneElement::single: return spread<float, 1.0f>(pieces, bytes);
    }
}

std::optional<FenFailure> write_fen_planes(std::span<const std::string_view> texts, PlaneElement element,
                                           void* out) {
    std::vector<Pieces> placements(texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) {
        try {
            placements[i] = pieces_from_fen(texts[i]);
        } catch (const Failure& failure) {
            return FenFailure{i, failure.message()};
        }
    }
    auto* bytes = static_cast<unsigned char*>(out);
    for (const Pieces& pieces : placements) {
        write_planes(pieces, element, bytes);
        bytes += plane_bytes(element);
    }
    return std::nullopt;
}

// ---------------------------------------------------------------------------
// Move indices

namespace {

struct Step {
    int rank, file;
};

// Sliding directions and knight jumps, in plane order.
constexpr std::array<Step, 8> DIRECTIONS = {{{1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}, {-1, -1}, {0, -1}, {1, -1}}};
constexpr std::array<Step, 8> KNIGHT_JUMPS = {{{2, 1}, {1, 2}, {-1, 2}, {-2, 1}, {-2, -1}, {-1, -2}, {1, -2}, {2, -1}}};

constexpr unsigned KNIGHT_PLANES = 56;
constexpr unsigned UNDER_PROMOTION_PLANES = 64;
constexpr unsigned QUEEN_PROMOTION_PLANES = 73;

constexpr std::uint16_t NO_MOVE = 0xFFFF;  // no move has from = to = 63 and special 15

// The move, as a move value with special 0 or a promotion code, that a plane
// gives a piece on square from; NO_MOVE when it leaves the board.
constexpr std::uint16_t plane_move(unsigned plane, Square from) {
    const int rank = static_cast<int>(rank_of(from)), file = static_cast<int>(file_of(from));
    Step step{};
    unsigned special = ORDINARY;
    if (plane < KNIGHT_PLANES) {
        const Step d = DIRECTIONS[plane / 7];
        const int distance = static_cast<int>(plane % 7) + 1;
        step = {d.rank * distance, d.file * distance};
    } else if (plane < UNDER_PROMOTION_PLANES) {
        step = KNIGHT_JUMPS[plane - KNIGHT_PLANES];
    } else {
        const unsigned p = plane - UNDER_PROMOTION_PLANES;  // 0..11
        const bool queen = plane >= QUEEN_PROMOTION_PLANES;
        special = queen ? PROMOTE_QUEEN : PROMOTE_KNIGHT + p / 3;
        const int file_step = static_cast<int>(queen ? plane - QUEEN_PROMOTION_PLANES : p % 3) - 1;
        if (rank == 6)
            step = {1, file_step};
        else if (rank == 1)
            step = {-1, file_step};
        else
            return NO_MOVE;
    }
    const int to_rank = rank + step.rank, to_file = file + step.file;
    if (to_rank < 0 || to_rank > 7 || to_file < 0 || to_file > 7) return NO_MOVE;
    return ChessMove::raw(from, make_square(static_cast<unsigned>(to_file), static_cast<unsigned>(to_rank)), special).data;
}

constexpr std::array<std::uint16_t, MOVE_INDEX_SIZE> make_index_moves() {
    std::array<std::uint16_t, MOVE_INDEX_SIZE> table{};
    for (unsigned plane = 0; plane < MOVE_PLANES; ++plane)
        for (Square from = SQ_A1; from <= SQ_H8; ++from) table[64 * plane + from] = plane_move(plane, from);
    return table;
}

// The move each index stands for.
constexpr auto INDEX_MOVES = make_index_moves();

constexpr std::size_t count_used() {
    std::size_t used = 0;
    for (const std::uint16_t move : INDEX_MOVES) used += move != NO_MOVE;
    return used;
}

static_assert(count_used() == USED_MOVE_INDICES);

// The plane of a non-promotion step (rank step + 7, file step + 7); -1 for
// steps no plane holds.
constexpr std::array<std::array<std::int8_t, 15>, 15> make_step_planes() {
    std::array<std::array<std::int8_t, 15>, 15> table{};
    for (auto& row : table) row.fill(-1);
    for (unsigned d = 0; d < 8; ++d)
        for (int distance = 1; distance <= 7; ++distance)
            table[DIRECTIONS[d].rank * distance + 7][DIRECTIONS[d].file * distance + 7] =
                static_cast<std::int8_t>(7 * d + distance - 1);
    for (unsigned k = 0; k < 8; ++k)
        table[KNIGHT_JUMPS[k].rank + 7][KNIGHT_JUMPS[k].file + 7] = static_cast<std::int8_t>(KNIGHT_PLANES + k);
    return table;
}

constexpr auto STEP_PLANES = make_step_planes();

// The index of every non-promotion move by its squares, or NO_INDEX: the
// index of a plain step is one table read.
constexpr std::uint16_t NO_INDEX = 0xFFFF;

constexpr std::array<std::array<std::uint16_t, 64>, 64> make_square_indices() {
    std::array<std::array<std::uint16_t, 64>, 64> table{};
    for (unsigned from = 0; from < 64; ++from)
        for (unsigned to = 0; to < 64; ++to) {
            const int plane = STEP_PLANES[(to >> 3) - (from >> 3) + 7][(to & 7) - (from & 7) + 7];
            table[from][to] = plane < 0 ? NO_INDEX : static_cast<std::uint16_t>(64 * plane + from);
        }
    return table;
}

constexpr auto SQUARE_INDICES = make_square_indices();

// The index whose move is the given one (special 0 or a promotion code), if any.
std::optional<unsigned> index_of(Square from, Square to, unsigned special) {
    if (!is_promotion(special)) {
        // A plain step's plane follows from its squares alone.
        const std::uint16_t index = SQUARE_INDICES[from][to];
        if (index == NO_INDEX) return std::nullopt;
        return index;
    }
    const int file_step = static_cast<int>(file_of(to)) - static_cast<int>(file_of(from));
    if (file_step < -1 || file_step > 1) return std::nullopt;
    const unsigned plane = special == PROMOTE_QUEEN
                               ? QUEEN_PROMOTION_PLANES + static_cast<unsigned>(file_step + 1)
                               : UNDER_PROMOTION_PLANES + 3 * (special - PROMOTE_KNIGHT) + static_cast<unsigned>(file_step + 1);
    const unsigned index = 64 * plane + from;
    // The table decides: a promotion from the wrong rank or in the wrong
    // direction finds another move there.
    if (INDEX_MOVES[index] != ChessMove::raw(from, to, special).data) return std::nullopt;
    return index;
}

// Promotion codes carry no index of their own beyond the piece; the other
// specials (en passant, double step, castling) are plain steps.
unsigned index_special(unsigned special) { return is_promotion(special) ? special : ORDINARY; }

}  // namespace

unsigned move_index(ChessMove move) {
    const auto index = index_of(move.from(), move.to(), index_special(move.special()));
    if (!index) fail("Move has no index: " + move.to_string());
    return *index;
}

std::optional<unsigned> move_index(std::string_view text) {
    if (text.size() != 4 && text.size() != 5) return std::nullopt;
    const auto coordinate = [&](std::size_t i, char first) { return static_cast<unsigned char>(text[i] - first); };
    const unsigned from_file = coordinate(0, 'a'), from_rank = coordinate(1, '1');
    const unsigned to_file = coordinate(2, 'a'), to_rank = coordinate(3, '1');
    if (from_file > 7 || from_rank > 7 || to_file > 7 || to_rank > 7) return std::nullopt;
    unsigned special = ORDINARY;
    if (text.size() == 5) {
        // The generator writes the piece a pawn becomes as a black piece letter.
        const std::size_t letter = std::string_view(PIECE_LETTERS).find(text[4]);
        if (letter == std::string_view::npos) return std::nullopt;
        const auto piece = static_cast<Piece>(letter);
        const PieceType type = type_of(piece);
        if (color_of(piece) != BLACK || type == PAWN || type == KING) return std::nullopt;
        special = PROMOTE_KNIGHT + (type - KNIGHT);
    }
    return index_of(make_square(from_file, from_rank), make_square(to_file, to_rank), special);
}

std::size_t move_text(std::size_t index, char* out) {
    if (index >= MOVE_INDEX_SIZE || INDEX_MOVES[index] == NO_MOVE) return 0;
    return ChessMove{INDEX_MOVES[index]}.write(out);
}

void write_move_mask(const MoveList& moves, std::uint8_t* out) {
    std::memset(out, 0, MOVE_INDEX_SIZE);
    for (const ChessMove move : moves) out[move_index(move)] = 1;
}

void write_move_indices(const MoveList& moves, void* out) {
    auto* bytes = static_cast<unsigned char*>(out);
    for (const ChessMove move : moves) {
        const auto index = static_cast<std::int64_t>(move_index(move));
        std::memcpy(bytes, &index, sizeof index);
        bytes += sizeof index;
    }
}

}  // namespace mirelo
