// The history of a board's moves, as pop_move needs it: for each move the
// bitboards it changed, as they were before, then its record, on one stack of
// 64-bit words.
//
// The words live in storage the history owns and grows, or in storage lent
// by whoever holds the board. A Python face whose collector frees a board's
// memory lends it: such a board must own nothing that needs freeing. Lent
// storage never grows; has_room() tells beforehand whether a move fits, and
// the lender lends more (lend) when it does not.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "bitboard.h"
#include "failure.h"
#include "side.h"

namespace mirelo {

struct MoveRecord {
    std::uint64_t info;     // the state bits (INFO_STATE_MASK) of the info word before the move
    std::uint16_t saved;    // bit p: the move saved pieces[p] below its record
    std::uint8_t progress;  // MoveProgress bits
};

// Removes and returns the lowest piece of a mask like MoveRecord::saved.
constexpr Piece pop_piece(unsigned& mask) {
    const auto p = static_cast<Piece>(std::countr_zero(mask));
    mask &= mask - 1;
    return p;
}

// The words one move takes at most: the bitboards of the mover, a captured
// piece, a castling rook and a promotion piece, and the record.
constexpr std::size_t MAX_MOVE_WORDS = 5;

class History {
public:
    History() noexcept = default;
    History(const History& other);
    // A copy of other in storage lent for capacity words (at least other.size()).
    History(const History& other, std::uint64_t* storage, std::size_t capacity);
    History(History&& other) noexcept;
    History& operator=(const History& other);
    History& operator=(History&& other) noexcept;
    ~History() { release(); }

    std::size_t moves() const { return moves_; }
    bool empty() const { return moves_ == 0; }
    std::size_t size() const { return size_; }  // in words
    bool lent() const { return lent_; }
    bool keeps_in(const void* storage) const { return words_ == storage; }

    // Whether the next move fits; owned storage grows as it must.
    bool has_room() const { return !lent_ || capacity_ - size_ >= MAX_MOVE_WORDS; }

    // The storage, in words, that the history should have to take more moves.
    std::size_t wanted_capacity() const;

    // Moves the words into storage lent for capacity words (at least size()),
    // which the history keeps from now on, and frees what it owned.
    void lend(std::uint64_t* storage, std::size_t capacity);

    // Saves the bitboards that record.saved names (a move changes four at
    // most), in ascending piece order, then the record. Returns the saved
    // words.
    const Bitboard* push(const MoveRecord& record, const Pieces& pieces) {
        if (capacity_ - size_ < MAX_MOVE_WORDS) grow();
        std::uint64_t* const first = words_ + size_;
        std::uint64_t* word = first;
        for (unsigned m = record.saved; m;) *word++ = pieces[pop_piece(m)];
        *word++ = pack(record);
        size_ = static_cast<std::uint32_t>(word - words_);
        ++moves_;
        return first;
    }

    // The record of the last move; the history must not be empty.
    MoveRecord back() const { return unpack(words_[size_ - 1]); }

    // Takes the last move off: its record and its saved words, which stay
    // readable until the next push.
    struct Taken {
        MoveRecord record;
        const Bitboard* saved;
    };
    Taken pop() {
        if (moves_ == 0) fail("No move to take back");
        const MoveRecord record = back();
        const std::size_t taken = 1 + count_squares(record.saved);
        if (taken > size_) fail("Undo stack does not match the last move record");
        size_ -= static_cast<std::uint32_t>(taken);
        --moves_;
        return {record, words_ + size_};
    }

    void clear() noexcept { size_ = moves_ = 0; }

    // Calls visit(record, saved words) for each move, the last first, for as
    // long as visit returns true.
    template <typename Visit>
    void visit_back(Visit visit) const {
        for (std::size_t top = size_; top > 0;) {
            const MoveRecord record = unpack(words_[top - 1]);
            const std::size_t taken = 1 + count_squares(record.saved);
            if (taken > top) fail("Undo stack does not match the move records");
            top -= taken;
            if (!visit(record, words_ + top)) return;
        }
    }

    // The same moves, saved words and records.
    friend bool operator==(const History& a, const History& b);

private:
    // A record in one word: the info bits, then the saved mask, then progress.
    static constexpr unsigned SAVED_SHIFT = 21, PROGRESS_SHIFT = 33;
    static_assert(INFO_STATE_MASK < std::uint64_t{1} << SAVED_SHIFT && PIECE_NB <= PROGRESS_SHIFT - SAVED_SHIFT);

    static constexpr std::uint64_t pack(const MoveRecord& r) {
        return (r.info & INFO_STATE_MASK) | std::uint64_t{r.saved} << SAVED_SHIFT |
               std::uint64_t{r.progress} << PROGRESS_SHIFT;
    }
    static constexpr MoveRecord unpack(std::uint64_t word) {
        return {word & INFO_STATE_MASK, static_cast<std::uint16_t>((word >> SAVED_SHIFT) & 0xFFF),
                static_cast<std::uint8_t>(word >> PROGRESS_SHIFT)};
    }

    void grow();
    void release() noexcept;
    void steal(History& other) noexcept;
    // Copies other's words into storage, which the history then holds.
    void take_words(const History& other, std::uint64_t* storage, std::size_t capacity, bool lent) noexcept;
    // Moves the words into storage, freeing what the history owned.
    void relocate(std::uint64_t* storage, std::size_t capacity, bool lent) noexcept;

    std::uint64_t* words_ = nullptr;
    std::uint32_t size_ = 0;      // words in use
    std::uint32_t capacity_ = 0;  // words of storage
    std::uint32_t moves_ = 0;
    bool lent_ = false;
};

}  // namespace mirelo
