// What every file of C functions uses: the borrows a record's call claims,
// the guard that runs its body with them taken, and the checks of plane
// element kinds and buffer sizes.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "borrow.h"
#include "encoding.h"
#include "errors.h"
#include "messages.h"
#include "records.h"

namespace mirelo::capi {

template <typename Record>
constexpr Claim shared(Record* record) {
    return {&record->borrow, Access::shared};
}

template <typename Record>
constexpr Claim exclusive(Record* record) {
    return {&record->borrow, Access::exclusive};
}

// Runs body in the guard with every claim taken.
template <typename Body>
int with(std::span<const Claim> claims, Body&& body) noexcept {
    const Borrows borrows(claims);
    if (borrows.status() != MIRELO_OK) return refused(borrows.status());
    return guarded(body);
}

template <typename Body>
int with(Claim claim, Body&& body) noexcept {
    return with(std::span<const Claim>(&claim, 1), body);
}

template <typename Body>
int with(Claim first, Claim second, Body&& body) noexcept {
    const std::array<Claim, 2> claims{first, second};
    return with(std::span<const Claim>(claims), body);
}

inline int value_error(std::string_view text) { return set_error(MIRELO_VALUE_ERROR, text); }

// The plane element of a code, or the error for one that names none.
inline int plane_element(int code, PlaneElement& element) {
    if (code < 0 || code > static_cast<int>(PlaneElement::single))
        return value_error(messages::not_a_plane_element(std::to_string(code)));
    element = static_cast<PlaneElement>(code);
    return MIRELO_OK;
}

inline int check_size(std::size_t size, std::size_t expected) {
    return size == expected ? MIRELO_OK : value_error(messages::wrong_size(size, expected));
}

}  // namespace mirelo::capi
