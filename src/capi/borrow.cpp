#include "borrow.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <limits>
#include <thread>
#include <new>
#include <vector>

#include "mirelo_capi.h"

namespace mirelo::capi {

namespace {

using borrow_word::EXCLUSIVE;
using borrow_word::PENDING;

int refusal(Access wanted) { return wanted == Access::exclusive ? MIRELO_BORROWED : MIRELO_MUTABLY_BORROWED; }

// ---------------------------------------------------------------------------
// The records this thread holds while Python code runs.

struct Held {
    const BorrowFlag* flag;
    Access access;
    unsigned count;
};

thread_local std::vector<Held> held_by_this_thread;

Held* held(const BorrowFlag& flag) noexcept {
    for (Held& entry : held_by_this_thread)
        if (entry.flag == &flag) return &entry;
    return nullptr;
}

enum class Claimed { taken, busy, refused };

// One claim without waiting. A record this thread holds is re-entered: one
// more reader where both are readers, whatever writer waits (it waits for
// this very thread), and a refusal otherwise.
Claimed claim(const Claim& c, int& status) noexcept {
    if (try_take(*c.flag, c.access)) return Claimed::taken;
    const Held* mine = held(*c.flag);
    if (mine == nullptr) return Claimed::busy;
    if (c.access == Access::shared && mine->access == Access::shared) {
        c.flag->fetch_add(1, std::memory_order_acquire);
        return Claimed::taken;
    }
    status = refusal(c.access);
    return Claimed::refused;
}

// ---------------------------------------------------------------------------
// Waiting for another thread.

std::atomic<WaitHook> wait_hook{nullptr};

// Does the word admit the claim? A writer that finds readers asks new ones
// to hold back.
bool admits(const Claim& c) noexcept {
    std::uintptr_t current = c.flag->load(std::memory_order_relaxed);
    if (c.access == Access::shared) return current < PENDING - 1;
    if (current == 0 || current == PENDING) return true;
    if (current != EXCLUSIVE && (current & PENDING) == 0) c.flag->fetch_or(PENDING, std::memory_order_relaxed);
    return false;
}

// Polls with a growing pause: calls are short, but one may be a long perft.
void wait_until_admitted(void* context) {
    const Claim& c = *static_cast<const Claim*>(context);
    for (unsigned round = 0; !admits(c); ++round) {
        if (round < 64) {
            std::this_thread::yield();
        } else {
            const unsigned shift = std::min(round - 64, 9u);
            std::this_thread::sleep_for(std::chrono::microseconds(1u << shift));
        }
    }
}

void wait_for(const Claim& c) noexcept {
    if (const WaitHook hook = wait_hook.load(std::memory_order_acquire))
        hook(wait_until_admitted, const_cast<Claim*>(&c));
    else
        wait_until_admitted(const_cast<Claim*>(&c));
}

constexpr int ALIASED = -1;

// Takes every claim or none; ALIASED when a record is claimed twice and must
// be taken once.
int take_each(std::span<const Claim> claims) noexcept {
    for (;;) {
        std::size_t i = 0;
        int status = MIRELO_OK;
        Claimed result = Claimed::taken;
        for (; i < claims.size(); ++i)
            if ((result = claim(claims[i], status)) != Claimed::taken) break;
        if (i == claims.size()) return MIRELO_OK;
        for (const Claim& c : claims.first(i)) release(*c.flag, c.access);
        if (result == Claimed::refused) return status;
        for (std::size_t j = 0; j < i; ++j)
            if (claims[j].flag == claims[i].flag) return ALIASED;
        wait_for(claims[i]);
    }
}

}  // namespace

void Borrows::take_rest(std::size_t taken) noexcept {
    for (const Claim& c : claims_.first(taken)) release(*c.flag, c.access);
    status_ = take_each(claims_);
    if (status_ != ALIASED) return;
    // Rare: a batch naming one record twice. Each record is taken once, for
    // the strongest access any of its claims asks for.
    unique_.reset(new (std::nothrow) Claim[claims_.size()]);
    if (!unique_) {
        status_ = MIRELO_NO_MEMORY;
        return;
    }
    Claim* const first = unique_.get();
    Claim* last = std::copy(claims_.begin(), claims_.end(), first);
    std::sort(first, last, [](const Claim& a, const Claim& b) {
        return a.flag != b.flag ? a.flag < b.flag : a.access > b.access;
    });
    last = std::unique(first, last, [](const Claim& a, const Claim& b) { return a.flag == b.flag; });
    claims_ = std::span<const Claim>(first, last);
    status_ = take_each(claims_);
}

int hold(BorrowFlag& flag, Access access) noexcept {
    const Claim c{&flag, access};
    if (const int status = take_each({&c, 1}); status != MIRELO_OK) return status;
    try {
        if (Held* mine = held(flag))
            ++mine->count;
        else
            held_by_this_thread.push_back({&flag, access, 1});
    } catch (...) {
        release(flag, access);
        return MIRELO_NO_MEMORY;
    }
    return MIRELO_OK;
}

void unhold(BorrowFlag& flag, Access access) noexcept {
    if (Held* mine = held(flag); mine != nullptr && --mine->count == 0) {
        *mine = held_by_this_thread.back();
        held_by_this_thread.pop_back();
    }
    release(flag, access);
}

void set_wait_hook(WaitHook hook) noexcept { wait_hook.store(hook, std::memory_order_release); }

}  // namespace mirelo::capi
