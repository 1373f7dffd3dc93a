// The declarations of the callables, and the binding of Python arguments to
// their parameters with the messages both faces raise.
#include <array>
#include <string>
#include <string_view>

#include "callables.h"
#include "errors.h"
#include "messages.h"

using namespace mirelo::capi;

namespace {

const char* class_name(int cls) { return mirelo_class_info_of(cls)->name; }

// "Board.push()", "is_check()": a callable's name in messages.
std::string name_in_messages(const mirelo_callable& c) {
    std::string name = c.entry != MIRELO_FUNCTION ? std::string(class_name(c.owner)) + "." : std::string();
    return name + c.name + "()";
}

// The Python type an argument converts to, as messages call it.
const char* target_name(const mirelo_param& p) {
    switch (p.kind) {
        case MIRELO_TEXT:
        case MIRELO_MOVE:
        case MIRELO_TEXTS: return "PyString";
        case MIRELO_OBJECT:
        case MIRELO_OBJECTS: return class_name(p.cls);
        case MIRELO_BYTES: return "PyBytes";
        case MIRELO_FLAG: return "PyBool";
        default: return "PyInt";
    }
}

}  // namespace

extern "C" {

const mirelo_callable* mirelo_callables(size_t* count) {
    *count = CALLABLE_ROWS.size();
    return CALLABLE_ROWS.data();
}

const char* mirelo_signature(const mirelo_callable* callable) {
    static const auto signatures = [] {
        std::array<std::string, CALLABLE_ROWS.size()> made;
        for (std::size_t i = 0; i < made.size(); ++i) {
            const mirelo_callable& c = CALLABLE_ROWS[i];
            std::string text = c.entry == MIRELO_METHOD || c.entry == MIRELO_CALL ? "($self" : "(";
            for (std::size_t p = 0; p < c.count; ++p) {
                if (text.size() > 1) text += ", ";
                text += c.params[p].name;
                if (c.params[p].fallback != nullptr) text += std::string("=\"") + c.params[p].fallback + "\"";
            }
            made[i] = text + ")";
        }
        return made;
    }();
    return signatures[static_cast<std::size_t>(callable - CALLABLE_ROWS.data())].c_str();
}

int mirelo_bind(const mirelo_callable* callable, size_t nargs, const char* const* names, const size_t* lengths,
                size_t nkw, int* slots) {
    return guarded([&] {
        const mirelo_callable& c = *callable;
        if (nargs > c.count)
            return set_error(MIRELO_TYPE_ERROR, messages::takes(name_in_messages(c), c.count, c.required, nargs));
        bool bound[MIRELO_MAX_PARAMS] = {};
        for (std::size_t i = 0; i < nargs; ++i) bound[i] = true;
        for (std::size_t k = 0; k < nkw; ++k) {
            const std::string_view keyword(names[k], lengths[k]);
            std::size_t i = 0;
            while (i < c.count && keyword != c.params[i].name) ++i;
            if (i == c.count)
                return set_error(MIRELO_TYPE_ERROR, messages::unexpected_keyword(name_in_messages(c), keyword));
            if (bound[i])
                return set_error(MIRELO_TYPE_ERROR, messages::multiple_values(name_in_messages(c), c.params[i].name));
            bound[i] = true;
            slots[k] = static_cast<int>(i);
        }
        const char* missing[MIRELO_MAX_PARAMS];
        std::size_t count = 0;
        for (std::size_t i = nargs; i < c.required; ++i)
            if (!bound[i]) missing[count++] = c.params[i].name;
        if (count > 0)
            return set_error(MIRELO_TYPE_ERROR, messages::missing(name_in_messages(c), {missing, count}));
        return int{MIRELO_OK};
    });
}

int mirelo_argument_error(const mirelo_callable* callable, int param, long item, const char* type_name,
                          size_t length) {
    return guarded([&] {
        const std::string_view type = type_name != nullptr ? std::string_view(type_name, length)
                                                           : std::string_view("<failed to extract type name>");
        if (param < 0)
            return set_error(MIRELO_TYPE_ERROR, messages::not_convertible("", type, class_name(callable->owner)));
        const mirelo_param& p = callable->params[param];
        const bool list = p.kind == MIRELO_OBJECTS || p.kind == MIRELO_TEXTS;
        if (list && item < 0) return set_error(MIRELO_TYPE_ERROR, messages::not_a_list(p.name));
        const std::string name = item < 0 ? std::string(p.name) : std::string(p.name) + "[" + std::to_string(item) + "]";
        return set_error(MIRELO_TYPE_ERROR, messages::not_convertible(name, type, target_name(p)));
    });
}

int mirelo_range_error(const mirelo_callable* callable, int param, const char* decimal, size_t length) {
    return guarded([&] {
        const std::string_view value(decimal, length);
        switch (callable->params[param].kind) {
            case MIRELO_DEPTH: return set_error(MIRELO_VALUE_ERROR, messages::invalid_depth(value));
            case MIRELO_INDEX: return set_error(MIRELO_VALUE_ERROR, messages::not_a_move_index(value));
            default: return set_error(MIRELO_VALUE_ERROR, messages::not_a_plane_element(value));
        }
    });
}

}  // extern "C"
