// Table-driven JSON push parser: the caller feeds one character at a time and hears of every value
// through a callback as soon as it is complete. Used by kiv_json, which builds var trees from the events.
#ifndef JSON_PARSER_H
#define JSON_PARSER_H

#include <stddef.h>

// Integer tokens are converted exactly within 64 bits; a token beyond that range is reported as a float.
typedef long long JSON_int_t;

enum JSON_type {
    JSON_T_NONE = 0,
    JSON_T_ARRAY_BEGIN,
    JSON_T_ARRAY_END,
    JSON_T_OBJECT_BEGIN,
    JSON_T_OBJECT_END,
    JSON_T_INTEGER,
    JSON_T_FLOAT,
    JSON_T_NULL,
    JSON_T_TRUE,
    JSON_T_FALSE,
    JSON_T_STRING,
    JSON_T_KEY,
    JSON_T_MAX
};

enum JSON_error {
    JSON_E_NONE = 0,
    JSON_E_INVALID_CHAR,
    JSON_E_INVALID_KEYWORD,
    JSON_E_INVALID_ESCAPE_SEQUENCE,
    JSON_E_INVALID_UNICODE_SEQUENCE,
    JSON_E_INVALID_NUMBER,
    JSON_E_NESTING_DEPTH_REACHED,
    JSON_E_UNBALANCED_COLLECTION,
    JSON_E_EXPECTED_KEY,
    JSON_E_EXPECTED_COLON,
    JSON_E_OUT_OF_MEMORY
};

typedef struct JSON_value_struct {
    union {
        JSON_int_t integer_value;
        double float_value;
        struct {
            const char *value;
            size_t length;
        } str;
    } vu;
} JSON_value;

typedef struct JSON_parser_struct *JSON_parser;

// Returns 0 to stop the parse.
typedef int (*JSON_parser_callback)(void *ctx, int type, const JSON_value *value);
typedef void *(*JSON_malloc_t)(size_t n);
typedef void (*JSON_free_t)(void *p);

typedef struct {
    JSON_parser_callback callback;
    void *callback_ctx;
    int depth; // > 0 limits nesting, 0 counts as 1, < 0 means no limit
    int allow_comments;
    int handle_floats_manually;
    JSON_malloc_t malloc;
    JSON_free_t free;
} JSON_config;

#define JSON_PARSER_STACK_SIZE 128
#define JSON_PARSER_PARSE_BUFFER_SIZE 3500

struct JSON_parser_struct {
    JSON_parser_callback callback;
    void *ctx;
    signed char state;
    signed char before_comment_state;
    signed char type;
    signed char escaped;
    signed char comment;
    signed char allow_comments;
    signed char handle_floats_manually;
    signed char error;
    char decimal_point;
    unsigned short utf16_high_surrogate;
    int current_char;
    int depth;
    int top;
    int stack_capacity;
    signed char *stack;
    char *parse_buffer;
    size_t parse_buffer_capacity;
    size_t parse_buffer_count;
    signed char static_stack[JSON_PARSER_STACK_SIZE];
    char static_parse_buffer[JSON_PARSER_PARSE_BUFFER_SIZE];
    JSON_malloc_t malloc;
    JSON_free_t free;
};

void init_JSON_config(JSON_config *config);
JSON_parser new_JSON_parser(JSON_config const *config);
void delete_JSON_parser(JSON_parser jc);
// Non-zero to go on; 0 on an error or when the callback asked to stop.
int JSON_parser_char(JSON_parser jc, int next_char);
// Feeds length bytes as JSON_parser_char would one by one; answers how many were taken before the first
// rejected byte (length when none was rejected).
size_t JSON_parser_chars(JSON_parser jc, const char *text, size_t length);
// Non-zero when the text fed so far is complete.
int JSON_parser_done(JSON_parser jc);
int JSON_parser_reset(JSON_parser jc);
int JSON_parser_get_last_error(JSON_parser jc);
int JSON_parser_is_legal_white_space_string(const char *s);

#endif
