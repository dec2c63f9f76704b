// Table-driven JSON push parser: one table lookup per character, tokens collected in a buffer inside the
// parser record. Called by kiv_json's decoder; it builds nothing itself.
#include "json/JSON_parser.h"

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "kiv_platform.h"

enum classes {
    C_SPACE,
    C_WHITE,
    C_LCURB,
    C_RCURB,
    C_LSQRB,
    C_RSQRB,
    C_COLON,
    C_COMMA,
    C_QUOTE,
    C_BACKS,
    C_SLASH,
    C_PLUS,
    C_MINUS,
    C_POINT,
    C_ZERO,
    C_DIGIT,
    C_LOW_A,
    C_LOW_B,
    C_LOW_C,
    C_LOW_D,
    C_LOW_E,
    C_LOW_F,
    C_LOW_L,
    C_LOW_N,
    C_LOW_R,
    C_LOW_S,
    C_LOW_T,
    C_LOW_U,
    C_ABCDF,
    C_E,
    C_ETC,
    C_STAR,
    NR_CLASSES
};

#define __ -1

static const signed char ascii_class[128] = {
    __,      __,      __,      __,      __,      __,      __,      __,      //
    __,      C_WHITE, C_WHITE, __,      __,      C_WHITE, __,      __,      //
    __,      __,      __,      __,      __,      __,      __,      __,      //
    __,      __,      __,      __,      __,      __,      __,      __,      //
    C_SPACE, C_ETC,   C_QUOTE, C_ETC,   C_ETC,   C_ETC,   C_ETC,   C_ETC,   //
    C_ETC,   C_ETC,   C_STAR,  C_PLUS,  C_COMMA, C_MINUS, C_POINT, C_SLASH, //
    C_ZERO,  C_DIGIT, C_DIGIT, C_DIGIT, C_DIGIT, C_DIGIT, C_DIGIT, C_DIGIT, //
    C_DIGIT, C_DIGIT, C_COLON, C_ETC,   C_ETC,   C_ETC,   C_ETC,   C_ETC,   //
    C_ETC,   C_ABCDF, C_ABCDF, C_ABCDF, C_ABCDF, C_E,     C_ABCDF, C_ETC,   //
    C_ETC,   C_ETC,   C_ETC,   C_ETC,   C_ETC,   C_ETC,   C_ETC,   C_ETC,   //
    C_ETC,   C_ETC,   C_ETC,   C_ETC,   C_ETC,   C_ETC,   C_ETC,   C_ETC,   //
    C_ETC,   C_ETC,   C_ETC,   C_LSQRB, C_BACKS, C_RSQRB, C_ETC,   C_ETC,   //
    C_ETC,   C_LOW_A, C_LOW_B, C_LOW_C, C_LOW_D, C_LOW_E, C_LOW_F, C_ETC,   //
    C_ETC,   C_ETC,   C_ETC,   C_ETC,   C_LOW_L, C_ETC,   C_LOW_N, C_ETC,   //
    C_ETC,   C_ETC,   C_LOW_R, C_LOW_S, C_LOW_T, C_LOW_U, C_ETC,   C_ETC,   //
    C_ETC,   C_ETC,   C_ETC,   C_LCURB, C_ETC,   C_RCURB, C_ETC,   C_ETC,   //
};

enum states {
    GO,
    OK,
    OB,
    KE,
    CO,
    VA,
    AR,
    ST,
    ES,
    U1,
    U2,
    U3,
    U4,
    MI,
    ZE,
    IT,
    FR,
    E1,
    E2,
    E3,
    T1,
    T2,
    T3,
    F1,
    F2,
    F3,
    F4,
    N1,
    N2,
    N3,
    C1,
    C2,
    C3,
    FX,
    D1,
    D2,
    NR_STATES
};

enum actions {
    CB = -10,
    CE = -11,
    FA = -12,
    TR = -13,
    NU = -14,
    DE = -15,
    DF = -16,
    SB = -17,
    MX = -18,
    ZX = -19,
    IX = -20,
    EX = -21,
    UC = -22
};

enum modes { MODE_ARRAY = 1, MODE_DONE = 2, MODE_KEY = 3, MODE_OBJECT = 4 };

struct _json_table {
    signed char t[NR_STATES][NR_CLASSES];
};

// The transition table, built at compile time from the rules of each state so every row reads as its grammar.
static constexpr _json_table _json_build_table() {
    _json_table tb{};
    for (int s = 0; s < NR_STATES; s++)
        for (int c = 0; c < NR_CLASSES; c++)
            tb.t[s][c] = -1;
    auto blanks = [&tb](int s) {
        tb.t[s][C_SPACE] = (signed char)s;
        tb.t[s][C_WHITE] = (signed char)s;
    };
    auto ends = [&tb](int s, bool comment) {
        tb.t[s][C_SPACE] = OK;
        tb.t[s][C_WHITE] = OK;
        tb.t[s][C_RCURB] = -8;
        tb.t[s][C_RSQRB] = -7;
        tb.t[s][C_COMMA] = -3;
        if (comment)
            tb.t[s][C_SLASH] = CB;
    };
    auto digits = [&tb](int s, int to) {
        tb.t[s][C_ZERO] = (signed char)to;
        tb.t[s][C_DIGIT] = (signed char)to;
    };
    auto hex = [&tb](int s, int to) {
        for (int c : {C_ZERO, C_DIGIT, C_LOW_A, C_LOW_B, C_LOW_C, C_LOW_D, C_LOW_E, C_LOW_F, C_ABCDF, C_E})
            tb.t[s][c] = (signed char)to;
    };

    blanks(GO);
    tb.t[GO][C_LCURB] = -6;
    tb.t[GO][C_LSQRB] = -5;
    tb.t[GO][C_SLASH] = CB;

    ends(OK, true);
    tb.t[OK][C_SPACE] = OK;
    tb.t[OK][C_WHITE] = OK;

    blanks(OB);
    tb.t[OB][C_RCURB] = -9;
    tb.t[OB][C_QUOTE] = SB;
    tb.t[OB][C_SLASH] = CB;

    blanks(KE);
    tb.t[KE][C_QUOTE] = SB;
    tb.t[KE][C_SLASH] = CB;

    blanks(CO);
    tb.t[CO][C_COLON] = -2;
    tb.t[CO][C_SLASH] = CB;

    for (int s : {VA, AR}) {
        blanks(s);
        tb.t[s][C_LCURB] = -6;
        tb.t[s][C_LSQRB] = -5;
        tb.t[s][C_QUOTE] = SB;
        tb.t[s][C_SLASH] = CB;
        tb.t[s][C_MINUS] = MX;
        tb.t[s][C_ZERO] = ZX;
        tb.t[s][C_DIGIT] = IX;
        tb.t[s][C_LOW_F] = FA;
        tb.t[s][C_LOW_N] = NU;
        tb.t[s][C_LOW_T] = TR;
    }
    tb.t[AR][C_RSQRB] = -7;

    for (int c = 0; c < NR_CLASSES; c++)
        tb.t[ST][c] = ST;
    tb.t[ST][C_WHITE] = -1;
    tb.t[ST][C_QUOTE] = -4;
    tb.t[ST][C_BACKS] = EX;

    for (int c : {C_QUOTE, C_BACKS, C_SLASH, C_LOW_B, C_LOW_F, C_LOW_N, C_LOW_R, C_LOW_T})
        tb.t[ES][c] = ST;
    tb.t[ES][C_LOW_U] = U1;

    hex(U1, U2);
    hex(U2, U3);
    hex(U3, U4);
    hex(U4, UC);

    tb.t[MI][C_ZERO] = ZE;
    tb.t[MI][C_DIGIT] = IT;

    ends(ZE, true);
    tb.t[ZE][C_POINT] = DF;
    // A zero with an exponent is valid JSON, so accept it like any other integer part.
    tb.t[ZE][C_LOW_E] = DE;
    tb.t[ZE][C_E] = DE;

    ends(IT, true);
    tb.t[IT][C_POINT] = DF;
    digits(IT, IT);
    tb.t[IT][C_LOW_E] = DE;
    tb.t[IT][C_E] = DE;

    ends(FR, true);
    digits(FR, FR);
    tb.t[FR][C_LOW_E] = E1;
    tb.t[FR][C_E] = E1;

    tb.t[E1][C_PLUS] = E2;
    tb.t[E1][C_MINUS] = E2;
    digits(E1, E3);
    digits(E2, E3);
    ends(E3, false);
    digits(E3, E3);

    ends(FX, false);
    digits(FX, FR);
    tb.t[FX][C_LOW_E] = E1;
    tb.t[FX][C_E] = E1;

    tb.t[T1][C_LOW_R] = T2;
    tb.t[T2][C_LOW_U] = T3;
    tb.t[T3][C_LOW_E] = OK;
    tb.t[T3][C_SLASH] = CB;

    tb.t[F1][C_LOW_A] = F2;
    tb.t[F2][C_LOW_L] = F3;
    tb.t[F3][C_LOW_S] = F4;
    tb.t[F4][C_LOW_E] = OK;
    tb.t[F4][C_SLASH] = CB;

    tb.t[N1][C_LOW_U] = N2;
    tb.t[N2][C_LOW_L] = N3;
    tb.t[N3][C_LOW_L] = OK;
    tb.t[N3][C_SLASH] = CB;

    tb.t[C1][C_STAR] = C2;
    for (int c = 0; c < NR_CLASSES; c++) {
        tb.t[C2][c] = C2;
        tb.t[C3][c] = C2;
    }
    tb.t[C2][C_STAR] = C3;
    tb.t[C3][C_STAR] = C3;
    tb.t[C3][C_SLASH] = CE;

    tb.t[D1][C_BACKS] = D2;
    tb.t[D2][C_LOW_U] = U1;
    return tb;
}

static constexpr _json_table state_transition_table = _json_build_table();

#undef __

static int _json_push(JSON_parser jc, int mode) {
    if (jc->top + 1 >= jc->stack_capacity) {
        if (jc->depth >= 0) {
            jc->error = JSON_E_NESTING_DEPTH_REACHED;
            return 0;
        }
        int cap = jc->stack_capacity * 2;
        signed char *s = (signed char *)jc->malloc((size_t)cap);
        if (!s) {
            jc->error = JSON_E_OUT_OF_MEMORY;
            return 0;
        }
        memcpy(s, jc->stack, (size_t)jc->stack_capacity);
        if (jc->stack != jc->static_stack)
            jc->free(jc->stack);
        jc->stack = s;
        jc->stack_capacity = cap;
    }
    if (jc->depth >= 0 && jc->top >= jc->depth) {
        jc->error = JSON_E_NESTING_DEPTH_REACHED;
        return 0;
    }
    jc->stack[++jc->top] = (signed char)mode;
    return 1;
}

static int _json_pop(JSON_parser jc, int mode) {
    if (jc->top < 0 || jc->stack[jc->top] != mode)
        return 0;
    jc->top--;
    return 1;
}

static void _json_clear_buffer(JSON_parser jc) {
    jc->parse_buffer_count = 0;
    jc->parse_buffer[0] = 0;
}

static void _json_drop_last(JSON_parser jc) {
    if (jc->parse_buffer_count) {
        jc->parse_buffer_count--;
        jc->parse_buffer[jc->parse_buffer_count] = 0;
    }
}

static int _json_grow_buffer(JSON_parser jc) {
    if (jc->parse_buffer_count + 2 <= jc->parse_buffer_capacity)
        return 1;
    size_t cap = jc->parse_buffer_capacity * 2;
    char *b = (char *)jc->malloc(cap);
    if (!b) {
        jc->error = JSON_E_OUT_OF_MEMORY;
        return 0;
    }
    memcpy(b, jc->parse_buffer, jc->parse_buffer_count + 1);
    if (jc->parse_buffer != jc->static_parse_buffer)
        jc->free(jc->parse_buffer);
    jc->parse_buffer = b;
    jc->parse_buffer_capacity = cap;
    return 1;
}

static inline void _json_append(JSON_parser jc, char c) {
    jc->parse_buffer[jc->parse_buffer_count++] = c;
    jc->parse_buffer[jc->parse_buffer_count] = 0;
}

static int _json_add_char(JSON_parser jc, int next_char, int next_class) {
    if (!_json_grow_buffer(jc))
        return 0;
    if (jc->escaped) {
        jc->escaped = 0;
        _json_drop_last(jc);
        switch (next_char) {
        case '"':
        case '\\':
        case '/':
            _json_append(jc, (char)next_char);
            break;
        case 'b':
            _json_append(jc, '\b');
            break;
        case 'f':
            _json_append(jc, '\f');
            break;
        case 'n':
            _json_append(jc, '\n');
            break;
        case 'r':
            _json_append(jc, '\r');
            break;
        case 't':
            _json_append(jc, '\t');
            break;
        case 'u':
            _json_append(jc, '\\');
            _json_append(jc, 'u');
            break;
        default:
            jc->error = JSON_E_INVALID_ESCAPE_SEQUENCE;
            return 0;
        }
    } else if (!jc->comment) {
        if (jc->type != JSON_T_NONE || !(next_class == C_SPACE || next_class == C_WHITE))
            _json_append(jc, (char)next_char);
    }
    return 1;
}

// Text of a number token without the blanks that may trail it in the buffer.
static size_t _json_number_len(JSON_parser jc) {
    size_t n = jc->parse_buffer_count;
    while (n > 0) {
        char c = jc->parse_buffer[n - 1];
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r')
            break;
        n--;
    }
    return n;
}

// Locale-independent: the text is JSON number syntax, never the C locale's.
static double _json_to_double(const char *s, size_t n) {
    double d = 0;
    std::from_chars_result r = std::from_chars(s, s + n, d);
    if (r.ec == std::errc())
        return d;
    // Out of range: take the overflow/underflow value the C library gives, in the "C" locale.
    return kiv_platform_strtod_c(s, nullptr);
}

// Exact conversion of an integer token; 0 when it does not fit in 64 bits.
static int _json_to_int(const char *s, size_t n, JSON_int_t *out) {
    size_t i = 0;
    bool neg = false;
    if (i < n && s[i] == '-') {
        neg = true;
        i++;
    }
    unsigned long long limit = neg ? 9223372036854775808ULL : 9223372036854775807ULL;
    unsigned long long v = 0;
    for (; i < n; i++) {
        unsigned d = (unsigned)(s[i] - '0');
        if (d > 9)
            return 0;
        if (v > (limit - d) / 10)
            return 0;
        v = v * 10 + d;
    }
    if (neg)
        *out = v == 9223372036854775808ULL ? (JSON_int_t)(-9223372036854775807LL - 1) : -(JSON_int_t)v;
    else
        *out = (JSON_int_t)v;
    return 1;
}

// Reports the collected scalar, then empties the buffer and forgets its type, so the next value starts clean.
static int _json_flush(JSON_parser jc) {
    int ok = 1;
    if (jc->callback && jc->type != JSON_T_NONE) {
        JSON_value value;
        const JSON_value *arg = nullptr;
        int type = jc->type;
        switch (type) {
        case JSON_T_INTEGER: {
            size_t n = _json_number_len(jc);
            if (_json_to_int(jc->parse_buffer, n, &value.vu.integer_value)) {
                arg = &value;
                break;
            }
            type = JSON_T_FLOAT;
        }
            // fall through
        case JSON_T_FLOAT: {
            size_t n = _json_number_len(jc);
            if (jc->handle_floats_manually) {
                jc->parse_buffer[n] = 0;
                value.vu.str.value = jc->parse_buffer;
                value.vu.str.length = n;
            } else {
                value.vu.float_value = _json_to_double(jc->parse_buffer, n);
            }
            arg = &value;
            break;
        }
        case JSON_T_STRING:
            value.vu.str.value = jc->parse_buffer;
            value.vu.str.length = jc->parse_buffer_count;
            arg = &value;
            break;
        default:
            break;
        }
        ok = jc->callback(jc->ctx, type, arg);
    }
    jc->type = JSON_T_NONE;
    _json_clear_buffer(jc);
    return ok;
}

static int _json_report(JSON_parser jc, int type) {
    if (!jc->callback)
        return 1;
    return jc->callback(jc->ctx, type, nullptr);
}

static int _json_hex(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return c - 'A' + 10;
}

static int _json_decode_unicode(JSON_parser jc) {
    if (jc->parse_buffer_count < 6)
        return 0;
    const char *p = jc->parse_buffer + jc->parse_buffer_count - 4;
    unsigned x = 0;
    for (int i = 0; i < 4; i++)
        x = x * 16 + (unsigned)_json_hex(p[i]);
    jc->parse_buffer_count -= 6;
    jc->parse_buffer[jc->parse_buffer_count] = 0;

    unsigned long cp;
    if (jc->utf16_high_surrogate) {
        if (x < 0xDC00 || x > 0xDFFF)
            return 0;
        cp = ((unsigned long)(jc->utf16_high_surrogate & 0x3FF) << 10) + (x & 0x3FF) + 0x10000;
        jc->utf16_high_surrogate = 0;
    } else if (x >= 0xD800 && x <= 0xDBFF) {
        jc->utf16_high_surrogate = (unsigned short)x;
        return 1;
    } else if (x >= 0xDC00 && x <= 0xDFFF) {
        return 0;
    } else {
        cp = x;
    }
    int n = cp < 0x80 ? 0 : cp < 0x800 ? 1 : cp < 0x10000 ? 2 : 3;
    static const unsigned char lead[4] = {0x00, 0xC0, 0xE0, 0xF0};
    // Six characters were just removed, so four bytes always fit.
    _json_append(jc, (char)(lead[n] | (cp >> (6 * n))));
    for (int i = n - 1; i >= 0; i--)
        _json_append(jc, (char)(0x80 | ((cp >> (6 * i)) & 0x3F)));
    return 1;
}

static void _json_set_error(JSON_parser jc, int next_class) {
    switch (jc->state) {
    case GO:
        if (next_class == C_LCURB || next_class == C_RCURB || next_class == C_LSQRB || next_class == C_RSQRB)
            jc->error = JSON_E_UNBALANCED_COLLECTION;
        else
            jc->error = JSON_E_INVALID_CHAR;
        break;
    case OB:
    case KE:
        jc->error = JSON_E_EXPECTED_KEY;
        break;
    case CO:
        jc->error = JSON_E_EXPECTED_COLON;
        break;
    case AR:
        jc->error = JSON_E_UNBALANCED_COLLECTION;
        break;
    case U1:
    case U2:
    case U3:
    case U4:
    case D1:
    case D2:
        jc->error = JSON_E_INVALID_UNICODE_SEQUENCE;
        break;
    case MI:
    case ZE:
    case IT:
    case FR:
    case E1:
    case E2:
    case E3:
        jc->error = JSON_E_INVALID_NUMBER;
        break;
    case T1:
    case T2:
    case T3:
    case F1:
    case F2:
    case F3:
    case F4:
    case N1:
    case N2:
    case N3:
        jc->error = JSON_E_INVALID_KEYWORD;
        break;
    default:
        jc->error = JSON_E_INVALID_CHAR;
        break;
    }
}

// A closing bracket: the pop is checked before anything is reported, so a stray closer never reaches the
// callback as an end event it cannot match.
static int _json_close(JSON_parser jc, int mode, int event) {
    _json_drop_last(jc);
    if (!_json_flush(jc))
        return 0;
    if (!_json_pop(jc, mode)) {
        jc->error = JSON_E_UNBALANCED_COLLECTION;
        return 0;
    }
    if (!_json_report(jc, event))
        return 0;
    jc->type = JSON_T_NONE;
    jc->state = OK;
    return 1;
}

static int _json_action(JSON_parser jc, int action) {
    switch (action) {
    case -6:
        _json_drop_last(jc);
        // Pushed before the report, so a refused level never reaches the callback either.
        if (!_json_push(jc, MODE_KEY))
            return 0;
        if (!_json_report(jc, JSON_T_OBJECT_BEGIN))
            return 0;
        jc->state = OB;
        return 1;
    case -5:
        _json_drop_last(jc);
        if (!_json_push(jc, MODE_ARRAY))
            return 0;
        if (!_json_report(jc, JSON_T_ARRAY_BEGIN))
            return 0;
        jc->state = AR;
        return 1;
    case -9:
        _json_clear_buffer(jc);
        if (!_json_pop(jc, MODE_KEY)) {
            jc->error = JSON_E_UNBALANCED_COLLECTION;
            return 0;
        }
        if (!_json_report(jc, JSON_T_OBJECT_END))
            return 0;
        jc->state = OK;
        return 1;
    case -8:
        return _json_close(jc, MODE_OBJECT, JSON_T_OBJECT_END);
    case -7:
        return _json_close(jc, MODE_ARRAY, JSON_T_ARRAY_END);
    case -4:
        _json_drop_last(jc);
        if (jc->top < 0)
            return 0;
        switch (jc->stack[jc->top]) {
        case MODE_KEY: {
            jc->type = JSON_T_NONE;
            jc->state = CO;
            if (jc->callback) {
                JSON_value value;
                value.vu.str.value = jc->parse_buffer;
                value.vu.str.length = jc->parse_buffer_count;
                if (!jc->callback(jc->ctx, JSON_T_KEY, &value))
                    return 0;
            }
            _json_clear_buffer(jc);
            return 1;
        }
        case MODE_ARRAY:
        case MODE_OBJECT:
            if (!_json_flush(jc))
                return 0;
            jc->state = OK;
            return 1;
        default:
            return 0;
        }
    case -3:
        _json_drop_last(jc);
        if (!_json_flush(jc))
            return 0;
        if (jc->top < 0)
            return 0;
        switch (jc->stack[jc->top]) {
        case MODE_ARRAY:
            jc->state = VA;
            return 1;
        case MODE_OBJECT:
            if (!_json_pop(jc, MODE_OBJECT) || !_json_push(jc, MODE_KEY))
                return 0;
            jc->state = KE;
            return 1;
        default:
            return 0;
        }
    case -2:
        _json_drop_last(jc);
        if (!_json_pop(jc, MODE_KEY) || !_json_push(jc, MODE_OBJECT))
            return 0;
        jc->state = VA;
        return 1;
    case SB:
        _json_clear_buffer(jc);
        jc->type = JSON_T_STRING;
        jc->state = ST;
        return 1;
    case EX:
        jc->escaped = 1;
        jc->state = ES;
        return 1;
    case UC:
        if (!_json_decode_unicode(jc)) {
            jc->error = JSON_E_INVALID_UNICODE_SEQUENCE;
            return 0;
        }
        jc->state = jc->utf16_high_surrogate ? D1 : ST;
        return 1;
    case MX:
        jc->type = JSON_T_INTEGER;
        jc->state = MI;
        return 1;
    case ZX:
        jc->type = JSON_T_INTEGER;
        jc->state = ZE;
        return 1;
    case IX:
        jc->type = JSON_T_INTEGER;
        jc->state = IT;
        return 1;
    case DF:
        jc->type = JSON_T_FLOAT;
        jc->state = FX;
        return 1;
    case DE:
        jc->type = JSON_T_FLOAT;
        jc->state = E1;
        return 1;
    case TR:
        jc->type = JSON_T_TRUE;
        jc->state = T1;
        return 1;
    case FA:
        jc->type = JSON_T_FALSE;
        jc->state = F1;
        return 1;
    case NU:
        jc->type = JSON_T_NULL;
        jc->state = N1;
        return 1;
    case CB: {
        if (!jc->allow_comments)
            return 0;
        _json_drop_last(jc);
        if (!_json_flush(jc))
            return 0;
        int mode = jc->top >= 0 ? (int)jc->stack[jc->top] : (int)MODE_DONE;
        if (mode == MODE_ARRAY || mode == MODE_OBJECT)
            jc->before_comment_state = (jc->state == VA || jc->state == AR) ? jc->state : (signed char)OK;
        else
            jc->before_comment_state = jc->state;
        jc->type = JSON_T_NONE;
        jc->state = C1;
        jc->comment = 1;
        return 1;
    }
    case CE:
        jc->comment = 0;
        jc->state = jc->before_comment_state;
        return 1;
    default:
        return 0;
    }
}

void init_JSON_config(JSON_config *config) {
    if (!config)
        return;
    memset(config, 0, sizeof(*config));
    config->depth = JSON_PARSER_STACK_SIZE - 1;
    config->malloc = malloc;
    config->free = free;
}

JSON_parser new_JSON_parser(JSON_config const *config) {
    JSON_config def;
    if (!config) {
        init_JSON_config(&def);
        config = &def;
    }
    JSON_malloc_t m = config->malloc;
    JSON_free_t f = config->free;
    if (!m || !f) {
        m = malloc;
        f = free;
    }
    JSON_parser jc = (JSON_parser)m(sizeof(*jc));
    if (!jc)
        return nullptr;
    memset((void *)jc, 0, sizeof(*jc));
    jc->malloc = m;
    jc->free = f;
    jc->callback = config->callback;
    jc->ctx = config->callback_ctx;
    jc->allow_comments = (signed char)(config->allow_comments != 0);
    jc->handle_floats_manually = (signed char)(config->handle_floats_manually != 0);
    // Numbers are read as JSON syntax whatever the process locale, so the point is always '.'.
    jc->decimal_point = '.';
    jc->depth = config->depth == 0 ? 1 : config->depth < 0 ? -1 : config->depth;
    jc->top = -1;
    if (!JSON_parser_reset(jc)) {
        f(jc);
        return nullptr;
    }
    return jc;
}

void delete_JSON_parser(JSON_parser jc) {
    if (!jc)
        return;
    if (jc->stack && jc->stack != jc->static_stack)
        jc->free(jc->stack);
    if (jc->parse_buffer && jc->parse_buffer != jc->static_parse_buffer)
        jc->free(jc->parse_buffer);
    jc->free(jc);
}

int JSON_parser_reset(JSON_parser jc) {
    if (!jc)
        return 0;
    jc->state = GO;
    jc->top = -1;
    jc->type = JSON_T_NONE;
    jc->escaped = 0;
    jc->comment = 0;
    jc->error = JSON_E_NONE;
    jc->utf16_high_surrogate = 0;
    if (!jc->stack) {
        // Room for the bottom entry plus depth open containers.
        if (jc->depth < 0) {
            jc->stack_capacity = JSON_PARSER_STACK_SIZE;
            jc->stack = jc->static_stack;
        } else if (jc->depth + 1 <= JSON_PARSER_STACK_SIZE) {
            jc->stack_capacity = jc->depth + 1;
            jc->stack = jc->static_stack;
        } else {
            jc->stack_capacity = jc->depth + 1;
            jc->stack = (signed char *)jc->malloc((size_t)jc->stack_capacity);
            if (!jc->stack)
                return 0;
        }
    }
    if (!jc->parse_buffer) {
        jc->parse_buffer = jc->static_parse_buffer;
        jc->parse_buffer_capacity = JSON_PARSER_PARSE_BUFFER_SIZE;
    }
    _json_push(jc, MODE_DONE);
    _json_clear_buffer(jc);
    return 1;
}

int JSON_parser_char(JSON_parser jc, int next_char) {
    if (!jc)
        return 0;
    jc->current_char = next_char;
    if (next_char < 0) {
        jc->error = JSON_E_INVALID_CHAR;
        return 0;
    }
    int next_class;
    if (next_char >= 128) {
        next_class = C_ETC;
    } else {
        next_class = ascii_class[next_char];
        if (next_class < 0) {
            _json_set_error(jc, next_class);
            return 0;
        }
    }
    // The common case inline: a plain character appended (terminated later, where the text is handed out).
    if (!jc->escaped && jc->parse_buffer_count + 2 <= jc->parse_buffer_capacity) {
        if (!jc->comment && (jc->type != JSON_T_NONE || next_class > C_WHITE))
            jc->parse_buffer[jc->parse_buffer_count++] = (char)next_char;
    } else if (!_json_add_char(jc, next_char, next_class)) {
        return 0;
    }
    int next_state = state_transition_table.t[(int)jc->state][next_class];
    if (next_state >= 0) {
        jc->state = (signed char)next_state;
        return 1;
    }
    jc->parse_buffer[jc->parse_buffer_count] = 0;
    if (next_state == -1) {
        _json_set_error(jc, next_class);
        return 0;
    }
    return _json_action(jc, next_state);
}

// Translation of a one-character escape, 0 for 'u' and for characters that are no escape.
static inline char _json_simple_escape(unsigned char c) {
    switch (c) {
    case '"':
    case '\\':
    case '/':
        return (char)c;
    case 'b':
        return '\b';
    case 'f':
        return '\f';
    case 'n':
        return '\n';
    case 'r':
        return '\r';
    case 't':
        return '\t';
    default:
        return 0;
    }
}

static inline int _json_hex4(const unsigned char *p, unsigned *x) {
    unsigned v = 0;
    for (int i = 0; i < 4; i++) {
        unsigned c = p[i], d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return 0;
        v = v * 16 + d;
    }
    *x = v;
    return 1;
}

// Decodes a \u escape at p (a backslash, 'u', four hex digits; a high surrogate with its low half) into out
// as UTF-8 followed by a terminating zero; answers the characters used, 0 to leave it to the general path
// (too little input or room, a zero code point, or anything that would fail there).
static size_t _json_fast_unicode(const unsigned char *p, size_t n, char *out, size_t room) {
    unsigned x, y;
    if (n < 6 || room < 8 || p[1] != 'u' || !_json_hex4(p + 2, &x) || x == 0)
        return 0;
    size_t used = 6;
    unsigned long cp = x;
    if (x >= 0xDC00 && x <= 0xDFFF)
        return 0;
    if (x >= 0xD800 && x <= 0xDBFF) {
        if (n < 12 || p[6] != '\\' || p[7] != 'u' || !_json_hex4(p + 8, &y) || y < 0xDC00 || y > 0xDFFF)
            return 0;
        cp = ((unsigned long)(x & 0x3FF) << 10) + (y & 0x3FF) + 0x10000;
        used = 12;
    }
    int k = cp < 0x80 ? 0 : cp < 0x800 ? 1 : cp < 0x10000 ? 2 : 3;
    static const unsigned char lead[4] = {0x00, 0xC0, 0xE0, 0xF0};
    *out++ = (char)(lead[k] | (cp >> (6 * k)));
    for (int i = k - 1; i >= 0; i--)
        *out++ = (char)(0x80 | ((cp >> (6 * i)) & 0x3F));
    *out = 0;
    return used;
}

size_t JSON_parser_chars(JSON_parser jc, const char *text, size_t length) {
    if (!jc || !text)
        return 0;
    const unsigned char *s = (const unsigned char *)text;
    size_t i = 0;
    while (i < length) {
        if (!jc->escaped && !jc->comment) {
            // A run of characters that only move the state and fill the buffer, kept in registers.
            signed char state = jc->state;
            char *buf = jc->parse_buffer;
            size_t count = jc->parse_buffer_count;
            size_t room = jc->parse_buffer_capacity;
            bool keep_blanks = jc->type != JSON_T_NONE;
            size_t start = i;
            while (i < length && count + 2 <= room) {
                unsigned c = s[i];
                int next_class = c >= 128 ? (int)C_ETC : (int)ascii_class[c];
                if (next_class < 0)
                    break;
                int next_state = state_transition_table.t[(int)state][next_class];
                if (next_state < 0) {
                    // Actions that report nothing, taken here with the same effect as the general path.
                    if (next_state == SB) {
                        count = 0;
                        jc->type = JSON_T_STRING;
                        keep_blanks = true;
                        state = ST;
                        i++;
                        continue;
                    }
                    if (next_state <= MX && next_state >= IX) {
                        // A number begins: the same as its action, which only sets the type and the state.
                        buf[count++] = (char)c;
                        jc->type = JSON_T_INTEGER;
                        keep_blanks = true;
                        state = next_state == MX ? MI : next_state == ZX ? ZE : IT;
                        i++;
                        continue;
                    }
                    if (next_state == DF || next_state == DE) {
                        buf[count++] = (char)c;
                        jc->type = JSON_T_FLOAT;
                        state = next_state == DF ? FX : E1;
                        i++;
                        continue;
                    }
                    if (next_state == -2 && jc->top >= 0 && jc->stack[jc->top] == MODE_KEY) {
                        jc->stack[jc->top] = MODE_OBJECT;
                        count = 0;
                        state = VA;
                        i++;
                        continue;
                    }
                    if (next_state == -3 && !keep_blanks && jc->top >= 0) {
                        if (jc->stack[jc->top] == MODE_ARRAY) {
                            count = 0;
                            state = VA;
                            i++;
                            continue;
                        }
                        if (jc->stack[jc->top] == MODE_OBJECT) {
                            jc->stack[jc->top] = MODE_KEY;
                            count = 0;
                            state = KE;
                            i++;
                            continue;
                        }
                    }
                    if (next_state == EX && i + 1 < length) {
                        // A one-character escape inside a string, taken here in one step: the same bytes as
                        // the backslash action followed by its translation.
                        char t = _json_simple_escape(s[i + 1]);
                        if (t) {
                            buf[count++] = t;
                            i += 2;
                            continue;
                        }
                        // A complete \u escape (or surrogate pair) in one step.
                        size_t used = _json_fast_unicode(s + i, length - i, buf + count, room - count);
                        if (used) {
                            while (buf[count])
                                count++;
                            i += used;
                            continue;
                        }
                    }
                    if (next_state == -1)
                        break;
                    // Any other action: the character goes into the buffer as the general path puts it, then
                    // the action runs on the written-back record.
                    if (keep_blanks || next_class > C_WHITE)
                        buf[count++] = (char)c;
                    buf[count] = 0;
                    jc->state = state;
                    jc->parse_buffer_count = count;
                    jc->current_char = (int)c;
                    if (!_json_action(jc, next_state))
                        return i;
                    i++;
                    start = i;
                    state = jc->state;
                    buf = jc->parse_buffer;
                    count = jc->parse_buffer_count;
                    room = jc->parse_buffer_capacity;
                    keep_blanks = jc->type != JSON_T_NONE;
                    if (jc->escaped || jc->comment)
                        break;
                    continue;
                }
                if (keep_blanks || next_class > C_WHITE)
                    buf[count++] = (char)c;
                state = (signed char)next_state;
                i++;
            }
            jc->state = state;
            jc->parse_buffer_count = count;
            if (i > start)
                jc->current_char = s[i - 1];
            if (i >= length)
                break;
        }
        if (!JSON_parser_char(jc, s[i]))
            return i;
        i++;
    }
    return length;
}

int JSON_parser_done(JSON_parser jc) {
    if (!jc)
        return 0;
    if ((jc->state == OK || jc->state == GO) && _json_pop(jc, MODE_DONE))
        return 1;
    jc->error = JSON_E_UNBALANCED_COLLECTION;
    return 0;
}

int JSON_parser_get_last_error(JSON_parser jc) {
    return jc ? (int)jc->error : (int)JSON_E_NONE;
}

int JSON_parser_is_legal_white_space_string(const char *s) {
    if (!s)
        return 0;
    for (; *s; s++) {
        if (*s != ' ' && *s != '\t' && *s != '\n' && *s != '\r')
            return 0;
    }
    return 1;
}
