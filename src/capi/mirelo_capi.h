/* The one boundary of the core: plain C functions over opaque records, used
 * by both Python faces (the C-API module on CPython, cffi on PyPy).
 *
 * No C++ exception crosses it. Every call returns a status; after a status
 * other than MIRELO_OK the calling thread can read the error text (and for
 * an internal failure its source location) until its next call. The text is
 * the whole message a face raises: prefixes, quoting and numbers included,
 * so that no face writes a message of its own.
 *
 * Records carry their own borrow flag (0 free, n shared borrows, all ones
 * one exclusive borrow): calls that read a record take it shared, calls that
 * change it take it exclusively. A call that finds a record held by another
 * thread waits until that call ends, so each call is atomic; one that finds
 * it held by its own thread (Python code run while a face holds the record,
 * see mirelo_hold) changes nothing and refuses. Calls that need several
 * records take all of them or none, and never wait while holding one.
 *
 * Every callable Python sees is declared once, in the table mirelo_callables
 * returns: its names, parameters and their kinds, its result kind and its
 * documentation. Both faces build their classes and functions from it.
 *
 * The declarations between the cdef markers are plain C that cffi reads as
 * they are; keep preprocessor lines out of that part.
 */
#ifndef MIRELO_CAPI_H
#define MIRELO_CAPI_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* cdef-begin */
typedef struct mirelo_board mirelo_board;
typedef struct mirelo_generator mirelo_generator;
typedef struct mirelo_pgn_reader mirelo_pgn_reader;

enum mirelo_status {
    MIRELO_OK = 0,
    MIRELO_VALUE_ERROR = 1,       /* bad input text or value: ValueError */
    MIRELO_TYPE_ERROR = 2,        /* argument binding or type: TypeError */
    MIRELO_FAILURE = 3,           /* an internal failure, with its source location */
    MIRELO_NO_MEMORY = 4,         /* the core ran out of memory: no text */
    MIRELO_BORROWED = 5,          /* exclusive borrow refused: RuntimeError */
    MIRELO_MUTABLY_BORROWED = 6,  /* shared borrow refused: RuntimeError */
    MIRELO_NEEDS_ROOM = 7         /* a record needs more room than its face gave it: see Rooms */
};

enum mirelo_sizes {
    MIRELO_FEN_CAPACITY = 96,     /* longest FEN text written */
    MIRELO_PLANES_SIZE = 768,     /* 12 planes of 64 flags, flag 64 * piece + square */
    MIRELO_MAX_MOVES = 3522,      /* longest move list */
    MIRELO_MAX_PERFT_DEPTH = 32,  /* deepest move-path count */
    MIRELO_MOVE_INDEX_SIZE = 4864,
    MIRELO_MAX_PARAMS = 6,
    MIRELO_RECORD_ALIGN = 8       /* of every record */
};

enum mirelo_side { MIRELO_BLACK = 0, MIRELO_WHITE = 1 };

enum mirelo_outcome {
    MIRELO_NO_OUTCOME = 0,
    MIRELO_CHECKMATE = 1,
    MIRELO_STALEMATE = 2,
    MIRELO_INSUFFICIENT_MATERIAL = 3,
    MIRELO_FIVEFOLD_REPETITION = 4
};

/* A game a PGN reader has read: a view of the reader's record, valid until
 * the reader's next call. Texts are well-formed UTF-8; pieces of text are
 * given as byte offsets and sizes within text. */
typedef struct mirelo_game {
    uint64_t index;               /* from 0, in input order */
    const char* text;             /* the tag names and values and the comments */
    size_t text_length;
    const size_t* tags;           /* 4 per tag, in file order: name offset, size, value offset, size */
    size_t tag_count;
    const uint16_t* moves;        /* the mainline (before the error) as move codes */
    size_t move_count;
    const size_t* comments;       /* 2 per move (offset, size), or NULL where comments are not kept */
    const char* fen;              /* the start position, as a board writes it */
    size_t fen_length;
    const char* result;
    size_t result_length;
    const char* error;            /* NULL when the whole mainline was read */
    size_t error_length;
} mirelo_game;

/* Room for the result of any call; a face reuses it from call to call. */
typedef struct mirelo_out {
    void* record;                 /* a record the call allocated */
    size_t size;                  /* native bytes the new record holds; the room wanted (MIRELO_NEEDS_ROOM) */
    uint64_t count;               /* a count: repetitions, perft nodes */
    uint64_t key;                 /* a position key */
    int64_t index;                /* a move index */
    int flag;                     /* a yes/no answer */
    int side;                     /* enum mirelo_side */
    int outcome;                  /* enum mirelo_outcome */
    uint16_t code;                /* the code of the move played */
    size_t text_length;
    char text[96];
    size_t mark_count;
    uint16_t marks[768];          /* the flags set in 12 planes of 64, in order */
    size_t move_count;
    uint16_t moves[3522];         /* move codes or move indices, in generation order */
    uint64_t counts[3522];        /* move-path counts by root move */
    const mirelo_game* game;      /* a game read, or NULL */
} mirelo_out;

/* ---- Records. Each Python object of a class owns one record, which starts
 * with its borrow flag.
 *
 * Rooms. A record of a class that grows (a board, whose history grows with
 * its moves) keeps what grows in memory of its own, or in a room: memory the
 * face gives it, aligned like a record. A face that frees records without
 * ending them (PyPy's, whose collector frees the memory) gives every new
 * record of such a class a room, possibly of 0 bytes (any pointer but NULL),
 * and lets it grow: a call that changes its receiver, or makes a new record,
 * and finds too little room returns MIRELO_NEEDS_ROOM before it changes
 * anything; the face then moves the record into a larger room
 * (mirelo_give_room) and calls again. A record placed by the face, and given
 * a room where its class grows, holds nothing outside that memory unless its
 * class ends (mirelo_class_info.ends): the face may free it without ending
 * the record. */

enum mirelo_class {
    MIRELO_NO_CLASS = 0,
    MIRELO_BOARD_CLASS = 1,
    MIRELO_GENERATOR_CLASS = 2,
    MIRELO_PGN_READER_CLASS = 3,
    MIRELO_CLASS_END = 4
};

typedef struct mirelo_class_info {
    const char* name;             /* the Python class: "Board" */
    const char* module;           /* where it lives: "mirelo_chess" */
    size_t size;                  /* bytes of a record, for faces that place it */
    int grows;                    /* whether its records take rooms */
    int ends;                     /* whether a record holds memory of its own, even given a room:
                                     a face must end it (mirelo_drop) before its memory goes */
} mirelo_class_info;

const mirelo_class_info* mirelo_class_info_of(int cls);

/* Holds a record's borrow while Python code runs (a conversion error that
 * reads a type's name, say): a call of the same thread that meets it then
 * refuses instead of waiting for itself. */
int mirelo_hold(void* record, int exclusive);
void mirelo_unhold(void* record, int exclusive);

void mirelo_drop(int cls, void* record);   /* ends a record placed by the face */
void mirelo_free(int cls, void* record);   /* ends and frees a record a call allocated */

/* Moves what the record keeps in the room used (the one the face gave it
 * last) into room (size bytes), which it keeps from then on: MIRELO_OK and
 * out->flag 1; or MIRELO_NEEDS_ROOM with the bytes it wants in out->size where
 * room is too small for what it keeps and one more change (room NULL only
 * asks). Where it no longer keeps it in used (another thread gave it a room
 * meanwhile), MIRELO_OK and out->flag 0: nothing changed. */
int mirelo_give_room(int cls, void* record, const void* used, void* room, size_t size, mirelo_out* out);

/* ---- The declarations of the callables. */

enum mirelo_entry {
    MIRELO_CONSTRUCTOR = 0,       /* the class's __new__ */
    MIRELO_METHOD = 1,
    MIRELO_STATIC_METHOD = 2,
    MIRELO_CALL = 3,              /* calling an instance */
    MIRELO_FUNCTION = 4           /* a function of the private module mirelo_chess._native */
};

/* How an argument reaches the C function, in the order of its C parameters. */
enum mirelo_kind {
    MIRELO_TEXT = 0,              /* str: const char* text, size_t length (UTF-8) */
    MIRELO_MOVE = 1,              /* str: text, length, int code (a known text's move code, or -1) */
    MIRELO_OBJECT = 2,            /* an instance of the parameter's class: its record */
    MIRELO_OBJECTS = 3,           /* list or tuple of instances: their records' array, size_t count */
    MIRELO_DEPTH = 4,             /* int from 0 to MIRELO_MAX_PERFT_DEPTH: int */
    MIRELO_INDEX = 5,             /* int: int64_t */
    MIRELO_ELEMENT = 6,           /* int, a plane element kind: int */
    MIRELO_BUFFER = 7,            /* writable contiguous buffer: void* data, size_t size */
    MIRELO_TEXTS = 8,             /* list or tuple of str: const char* texts, const size_t* ends, size_t count */
    MIRELO_BYTES = 9,             /* any bytes-like object, read only: const char* data, size_t size */
    MIRELO_FLAG = 10              /* bool: int, 0 or 1 */
};

/* What the call's result becomes, read from mirelo_out. */
enum mirelo_result {
    MIRELO_NOTHING = 0,           /* None */
    MIRELO_STRING = 1,            /* text, ASCII (FEN, move texts, SAN) */
    MIRELO_YES_NO = 2,            /* flag */
    MIRELO_COUNT = 3,             /* count */
    MIRELO_KEY = 4,               /* key */
    MIRELO_INDEX_NUMBER = 5,      /* index */
    MIRELO_SIDE_NAME = 6,         /* side, by mirelo_side_name */
    MIRELO_OUTCOME_NAME = 7,      /* outcome, by mirelo_outcome_name; None for none */
    MIRELO_MOVE_TEXTS = 8,        /* moves as move codes: a list of move texts */
    MIRELO_PLANE_LISTS = 9,       /* marks: 12 lists of 64 bools */
    MIRELO_MOVE_INDICES = 10,     /* moves as move indices: bytes of int64 */
    MIRELO_DIVIDE_ROWS = 11,      /* moves and counts: a list of (move text, count) */
    MIRELO_NEW_OBJECT = 12,       /* a new instance of the result class, its record at the place argument */
    MIRELO_MOVE_TEXT = 13,        /* code: the move text the generator writes for it */
    MIRELO_GAME = 14              /* game: a tuple (index, headers dict, fen, move texts, comments or None,
                                     result, error or None); None where game is NULL */
};

typedef struct mirelo_param {
    const char* name;
    int kind;                     /* enum mirelo_kind */
    int cls;                      /* the class of OBJECT and OBJECTS arguments */
    int exclusive;                /* such arguments the call changes */
    const char* fallback;         /* the value of an optional parameter left out, or NULL */
} mirelo_param;

/* A C function whose result is a new object takes, after its parameters,
 * a place: memory of the record's size, or NULL to have the call allocate it
 * (reported in out->record, freed with mirelo_free); then a room and its size
 * in bytes (NULL and 0 where the record is to keep what grows itself; see
 * Rooms). Every C function ends with mirelo_out* out, which may be NULL where
 * the result is nothing (a push then does not report the code of its move,
 * and a lack of room does not report the bytes wanted). */
typedef struct mirelo_callable {
    const char* function;         /* the C function's name in this header */
    const char* name;             /* the Python name */
    int entry;                    /* enum mirelo_entry */
    int owner;                    /* the class of a constructor, method or call */
    int receiver_exclusive;       /* a method or call that changes its receiver */
    int result;                   /* enum mirelo_result */
    int result_class;             /* the class of a new object */
    size_t count;                 /* parameters */
    size_t required;              /* leading parameters without fallback */
    mirelo_param params[6];       /* MIRELO_MAX_PARAMS */
    const char* doc;
} mirelo_callable;

const mirelo_callable* mirelo_callables(size_t* count);

/* The text signature Python shows for a callable: "($self, chess_move)",
 * "(board)", "(fen=\"...\")" (a constructor's, without the class). */
const char* mirelo_signature(const mirelo_callable* callable);

/* Binds the arguments of a call that is not a plain positional one:
 * nargs positional arguments, then nkw keyword names (UTF-8). slots[k]
 * receives the parameter index of keyword k. MIRELO_TYPE_ERROR with the
 * interpreter's kind of message otherwise. */
int mirelo_bind(const mirelo_callable* callable, size_t nargs, const char* const* names, const size_t* lengths,
                size_t nkw, int* slots);

/* The TypeError of an argument that is not of its parameter's kind: param
 * is its index, -1 for the receiver; item the index within a list, or -1;
 * type_name the __qualname__ of its type (NULL when it cannot be read). */
int mirelo_argument_error(const mirelo_callable* callable, int param, long item, const char* type_name,
                          size_t length);

/* The ValueError of a DEPTH or INDEX argument outside its range, the number
 * written in decimal by the face (it may exceed 64 bits). */
int mirelo_range_error(const mirelo_callable* callable, int param, const char* decimal, size_t length);

/* ---- Boards. Texts are UTF-8 of the given length (no terminator needed). */
int mirelo_board_new(const char* fen, size_t length, mirelo_board* place, void* room, size_t room_size,
                     mirelo_out* out);
int mirelo_board_copy(mirelo_board* board, mirelo_board* place, void* room, size_t room_size, mirelo_out* out);
int mirelo_board_fen(mirelo_board* board, mirelo_out* out);
int mirelo_board_turn(mirelo_board* board, mirelo_out* out);
int mirelo_board_planes(mirelo_board* board, mirelo_out* out);
int mirelo_board_push(mirelo_board* board, const char* text, size_t length, int code, mirelo_out* out);
int mirelo_board_pop(mirelo_board* board, mirelo_out* out);
int mirelo_board_reflect(mirelo_board* board, mirelo_out* out);
int mirelo_planes_from_fen(const char* fen, size_t length, mirelo_out* out);

/* ---- Generators. */
int mirelo_generator_new(mirelo_generator* place, void* room, size_t room_size, mirelo_out* out);
int mirelo_generator_moves(mirelo_generator* generator, mirelo_board* board, mirelo_out* out);

/* The text of a move code in out->text. */
int mirelo_move_text(int code, mirelo_out* out);

/* ---- SAN both ways. */
int mirelo_san(mirelo_generator* generator, mirelo_board* board, const char* text, size_t length, int code,
               mirelo_out* out);
int mirelo_parse_san(mirelo_generator* generator, mirelo_board* board, const char* text, size_t length,
                     mirelo_out* out);

/* ---- PGN readers. Bytes are fed in chunks of any size; next hands out
 * each game once it is complete (out->game, NULL when there is none yet),
 * fill writes the training rows of the games of decisive or drawn result
 * read without error: per position before a mainline move, its planes (of
 * the element kind), the move's index (int64), the result from white's side
 * (int8: 1, 0, -1), whether white is to move (one byte, 0 or 1) and the
 * game's index (int64). It writes as many rows as the buffers hold or the
 * games complete so far give, a game's rows going on in the next call, and
 * reports the number written in out->count. */
int mirelo_pgn_reader_new(int comments, mirelo_pgn_reader* place, void* room, size_t room_size, mirelo_out* out);
int mirelo_pgn_reader_feed(mirelo_pgn_reader* reader, const char* data, size_t size, mirelo_out* out);
int mirelo_pgn_reader_finish(mirelo_pgn_reader* reader, mirelo_out* out);
int mirelo_pgn_reader_next(mirelo_pgn_reader* reader, mirelo_out* out);
int mirelo_pgn_reader_pending(mirelo_pgn_reader* reader, mirelo_out* out);
int mirelo_pgn_reader_fill(mirelo_pgn_reader* reader, void* planes, size_t planes_size, int element, void* moves,
                           size_t moves_size, void* results, size_t results_size, void* turns, size_t turns_size,
                           void* games, size_t games_size, mirelo_out* out);

/* ---- Game state. */
int mirelo_game_is_check(mirelo_board* board, mirelo_out* out);
int mirelo_game_repetitions(mirelo_board* board, mirelo_out* out);
int mirelo_game_zobrist_key(mirelo_board* board, mirelo_out* out);
int mirelo_game_outcome(mirelo_generator* generator, mirelo_board* board, mirelo_out* out);
int mirelo_game_perft(mirelo_generator* generator, mirelo_board* board, int depth, mirelo_out* out);
int mirelo_game_divide(mirelo_generator* generator, mirelo_board* board, int depth, mirelo_out* out);

/* ---- Arrays for neural networks. A plane element is 0 (one byte), 1 (IEEE
 * binary16) or 2 (IEEE binary32); out is a caller's buffer of exactly size
 * bytes: MIRELO_PLANES_SIZE elements per position, MIRELO_MOVE_INDEX_SIZE
 * bytes per legal-move mask. A batch takes every borrow, or reads every
 * text, before it writes anything. */
int mirelo_write_planes(mirelo_board* board, void* data, size_t size, int element, mirelo_out* out);
int mirelo_write_planes_batch(mirelo_board* const* boards, size_t count, void* data, size_t size, int element,
                              mirelo_out* out);
int mirelo_write_fen_planes(const char* texts, const size_t* ends, size_t count, void* data, size_t size,
                            int element, mirelo_out* out);   /* text i: texts[ends[i-1] .. ends[i]) */
int mirelo_move_index(const char* text, size_t length, mirelo_out* out);
int mirelo_index_move_text(int64_t index, mirelo_out* out);
int mirelo_legal_indices(mirelo_generator* generator, mirelo_board* board, mirelo_out* out);
int mirelo_legal_mask(mirelo_generator* generator, mirelo_board* board, void* data, size_t size, mirelo_out* out);
int mirelo_legal_mask_batch(mirelo_generator* generator, mirelo_board* const* boards, size_t count, void* data,
                            size_t size, mirelo_out* out);

/* ---- Texts every face shows. */
const char* mirelo_default_fen(void);
const char* mirelo_side_name(int side);
const char* mirelo_outcome_name(int outcome);   /* NULL for none */
const char* mirelo_panic_name(void);            /* qualified name of the internal-failure exception */
const char* mirelo_panic_doc(void);

/* ---- The last error of the calling thread. */
const char* mirelo_error_text(void);
size_t mirelo_error_length(void);         /* the text may hold zero bytes */
const char* mirelo_error_file(void);      /* file of an internal failure */
unsigned mirelo_error_line(void);

/* Where a call must wait for another thread, a face whose interpreter lock
 * the call holds gives it up meanwhile: the hook runs wait(context) with the
 * lock released. NULL (the default) waits in place. */
typedef void (*mirelo_wait_hook)(void (*wait)(void*), void* context);
void mirelo_set_wait_hook(mirelo_wait_hook hook);
/* cdef-end */

#ifdef __cplusplus
}
#endif

#endif
