/* The core behind a small C interface: plain functions over opaque handles.
 *
 * No C++ exception crosses it. Every call that can fail returns a status;
 * after MIRELO_ERROR or MIRELO_FAILURE the calling thread can read the error
 * text, and for an internal failure its source location, until its next
 * call. Handles carry their own borrow flag (0 free, n shared borrows, all
 * ones one exclusive borrow): calls that read a record take it shared, calls
 * that change it take it exclusively, and a call that cannot get its borrow
 * changes nothing and says so. Python code that must run while a call holds
 * an object (building an error message, for instance) takes and releases the
 * borrow explicitly.
 *
 * The declarations between the cdef markers are plain C that cffi reads as
 * they are; keep preprocessor lines out of that part.
 */
#ifndef MIRELO_CAPI_H
#define MIRELO_CAPI_H

#include <stddef.h>
#include <stdint.h>

/* The message of an internal failure that carries no text of its own. */
#define MIRELO_GENERIC_FAILURE "internal failure in the mirelo_chess core"

#define MIRELO_PANIC_DOC                                                                  \
    "Raised when native code called from Python fails an internal check.\n\n"             \
    "Like SystemExit, it derives from BaseException, not from Exception, so that it\n"    \
    "normally propagates all the way up and ends the interpreter."

#ifdef __cplusplus
extern "C" {
#endif

/* cdef-begin */
typedef struct mirelo_board mirelo_board;
typedef struct mirelo_generator mirelo_generator;

enum mirelo_status {
    MIRELO_OK = 0,
    MIRELO_ERROR = 1,             /* an error text: bad FEN field, bad move text */
    MIRELO_FAILURE = 2,           /* an internal failure, with its source location */
    MIRELO_NO_MEMORY = 3,         /* the core ran out of memory */
    MIRELO_BORROWED = 4,          /* exclusive borrow refused: "Already borrowed" */
    MIRELO_MUTABLY_BORROWED = 5   /* shared borrow refused: "Already mutably borrowed" */
};

enum mirelo_sizes {
    MIRELO_FEN_CAPACITY = 96,     /* longest FEN text written */
    MIRELO_PLANES_SIZE = 768,     /* 12 planes of 64 flags, flag 64 * piece + square */
    MIRELO_MAX_MOVES = 3522,      /* longest move list */
    MIRELO_MAX_PERFT_DEPTH = 32   /* deepest move-path count */
};

/* Room for the result of any call, reused from call to call. */
typedef struct mirelo_out {
    mirelo_board* board;          /* a new board */
    mirelo_generator* generator;  /* a new generator */
    size_t bytes;                 /* native memory the new board or generator holds */
    size_t length;                /* characters in text, codes in moves, or indexes in marks */
    uint64_t number;              /* a count or a key */
    char text[96];
    uint16_t marks[768];          /* the flags set in 12 planes of 64, in order */
    uint16_t moves[3522];         /* 16-bit move codes, in generation order */
} mirelo_out;

/* Boards. Texts are UTF-8 of the given length (no terminator needed). */
int mirelo_board_new(const char* fen, size_t length, mirelo_out* out);
int mirelo_board_copy(mirelo_board* board, mirelo_out* out);
void mirelo_board_free(mirelo_board* board);
int mirelo_board_fen(mirelo_board* board, mirelo_out* out);
int mirelo_board_turn(mirelo_board* board, mirelo_out* out);   /* length 1 white, 0 black */
int mirelo_board_planes(mirelo_board* board, mirelo_out* out);   /* marks */
int mirelo_board_push(mirelo_board* board, const char* text, size_t length, mirelo_out* out); /* moves[0]: the code */
int mirelo_board_push_code(mirelo_board* board, uint16_t code);
int mirelo_board_pop(mirelo_board* board);
int mirelo_board_reflect(mirelo_board* board);
int mirelo_board_borrow(mirelo_board* board, int exclusive);
void mirelo_board_release(mirelo_board* board, int exclusive);

/* The planes (marks) of the board field of a FEN text. */
int mirelo_planes_from_fen(const char* fen, size_t length, mirelo_out* out);

/* The text of a move code: out->text, out->length characters. */
int mirelo_move_text(uint16_t code, mirelo_out* out);

/* Generators: the legal moves of a board as codes in out->moves. */
int mirelo_generator_new(mirelo_out* out);
void mirelo_generator_free(mirelo_generator* generator);
int mirelo_generator_moves(mirelo_generator* generator, mirelo_board* board, mirelo_out* out);
int mirelo_generator_borrow(mirelo_generator* generator, int exclusive);
void mirelo_generator_release(mirelo_generator* generator, int exclusive);

/* Game state of a board. The outcome is 0 none, 1 checkmate, 2 stalemate,
 * 3 insufficient material, 4 fivefold repetition; divide writes the root
 * moves to out->moves and their counts to counts, which has room for
 * MIRELO_MAX_MOVES. A depth outside 0 to MIRELO_MAX_PERFT_DEPTH is an
 * internal failure: callers check it first. */
int mirelo_game_is_check(mirelo_board* board, mirelo_out* out);       /* length 1 in check, 0 not */
int mirelo_game_repetitions(mirelo_board* board, mirelo_out* out);    /* length: the count */
int mirelo_game_zobrist_key(mirelo_board* board, mirelo_out* out);    /* number: the key */
int mirelo_game_outcome(mirelo_generator* generator, mirelo_board* board, mirelo_out* out);  /* length */
int mirelo_game_perft(mirelo_generator* generator, mirelo_board* board, int depth, mirelo_out* out); /* number */
int mirelo_game_divide(mirelo_generator* generator, mirelo_board* board, int depth, uint64_t* counts,
                       mirelo_out* out);

/* Arrays for neural networks. A plane element is 0 (one byte), 1 (IEEE
 * binary16) or 2 (IEEE binary32); out is a caller's buffer of exactly size
 * bytes: MIRELO_PLANES_SIZE elements per position, MIRELO_MOVE_INDEX_SIZE
 * bytes per legal-move mask. A batch takes every borrow, or reads every
 * text, before it writes anything; for a text the FEN reader refuses, the
 * status is MIRELO_ERROR with *failed its index (count for other errors). */
enum mirelo_array_sizes { MIRELO_MOVE_INDEX_SIZE = 4864 };
int mirelo_write_planes(mirelo_board* const* boards, size_t count, int element, void* out, size_t size);
int mirelo_write_fen_planes(const char* texts, const size_t* ends, size_t count, int element, void* out,
                            size_t size, size_t* failed);   /* text i: texts[ends[i-1] .. ends[i]) */
int mirelo_legal_masks(mirelo_generator* generator, mirelo_board* const* boards, size_t count, void* out,
                       size_t size);
/* The indices of the legal moves, in generation order, in out->moves. */
int mirelo_legal_indices(mirelo_generator* generator, mirelo_board* board, mirelo_out* out);
/* The index of a move text, or -1. */
int mirelo_move_index(const char* text, size_t length);
/* The move text of an index in out->text; out->length 0 when it stands for none. */
int mirelo_index_move_text(size_t index, mirelo_out* out);


/* The start position, and the documentation of the internal-failure exception. */
const char* mirelo_default_fen(void);
const char* mirelo_panic_doc(void);

/* The last error of the calling thread. */
const char* mirelo_error_text(void);
size_t mirelo_error_length(void);         /* the text may hold zero bytes */
const char* mirelo_error_file(void);      /* file of an internal failure */
unsigned mirelo_error_line(void);
/* cdef-end */

#ifdef __cplusplus
}
#endif

#endif
