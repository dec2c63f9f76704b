// The dynamic value var: handle, scalar kinds, lists, dicts and the list and text helpers.
// Used by every module that passes parameters, events, documents or script values.
#include "kiv_var.h"
#include "kiv_var_int.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <climits>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <cstring>
#include <functional>

#include "kiv_platform.h"
#include "kiv_printf.h"

// --- constants

// A double's fixed-point text: up to 309 integer digits, sign, point and six decimals.
enum { VAR_NUMBER_TEXT_MAX = 400 };

// --- internal helpers

static void _var_error(const char *file, int line, const char *op, const std::string &msg) {
    _kiv_iprintf(file, line, op, 0, "%s:%d: %s\n", file, line, msg.c_str());
    var_get_errstr() = msg;
}

#define VAR_ERROR(op, msg) _var_error(__FILE__, __LINE__, op, msg)

// Index rule of lists: truncate, add the length once when negative; -1 when out of range.
// A NaN index is out of range, as is any index beyond the int range after clamping.
static int _var_list_index(const var &key, int n) {
    double d = key.__num__();
    if (std::isnan(d))
        return -1;
    int i = kiv_d2i(d);
    if (i < 0)
        i += n;
    return (i >= 0 && i < n) ? i : -1;
}

static int _var_isws(char c) {
    return c == ' ' || c == '\n' || c == '\t' || c == '\r';
}

// --- public functions: var handle

var::var() : value(nullptr) {}
var::var(int v) : value(nullptr) {
    __init__((var_cnumber)v);
}
var::var(long v) : value(nullptr) {
    __init__((var_cnumber)v);
}
var::var(long long v) : value(nullptr) {
    __init__((var_cnumber)v);
}
var::var(unsigned v) : value(nullptr) {
    __init__((var_cnumber)v);
}
var::var(unsigned long v) : value(nullptr) {
    __init__((var_cnumber)v);
}
var::var(unsigned long long v) : value(nullptr) {
    __init__((var_cnumber)v);
}
var::var(float v) : value(nullptr) {
    __init__((var_cnumber)v);
}
var::var(double v) : value(nullptr) {
    __init__((var_cnumber)v);
}
var::var(bool v) : value(nullptr) {
    __init__(v);
}
var::var(const char *v) : value(nullptr) {
    __init__(v);
}
var::var(const std::string &v) : value(nullptr) {
    __init__(v);
}
var::var(std::string &&v) : value(nullptr) {
    _var_string *o = new _var_string();
    o->value = std::move(v);
    __init__(o);
}
var::var(var_object *o) : value(nullptr) {
    __init__(o);
}
var::var(const var &o) : value(nullptr) {
    __init__(o.value);
}
var::var(var &&o) noexcept : value(o.value) {
    o.value = nullptr;
}
var::~var() {
    __destroy__();
}

void var::_build(int type, int n, const var *items, int count) {
    if (n < 0)
        n = 0;
    if (n > count)
        n = count;
    var_object *o;
    if (type == VAR_LIST)
        o = new _var_list();
    else if (type == VAR_DICT)
        o = new _var_dict();
    else
        return;
    o->__init__(type, n, items);
    __init__(o);
}

// Freeing a container frees its elements from inside its destructor; for data nested a million deep (a
// hostile JSON document) that recursion would overflow the stack. Containers that die while another object
// is being freed are queued and freed by the outermost call instead. Plain arrays, so nothing here has a
// destructor that could run before a static var's at exit.
static thread_local bool _var_releasing = false;
static thread_local var_object **_var_pending = nullptr;
static thread_local size_t _var_pending_n = 0, _var_pending_cap = 0;

static void _var_release(var_object *o) {
    if (_var_releasing) {
        int t = o->__type__();
        if (t == VAR_LIST || t == VAR_DICT) {
            if (_var_pending_n == _var_pending_cap) {
                size_t cap = _var_pending_cap ? _var_pending_cap * 2 : 64;
                var_object **p = (var_object **)realloc(_var_pending, cap * sizeof(var_object *));
                if (!p) {
                    delete o; // out of memory: fall back to freeing it in place
                    return;
                }
                _var_pending = p;
                _var_pending_cap = cap;
            }
            _var_pending[_var_pending_n++] = o;
            return;
        }
        delete o;
        return;
    }
    _var_releasing = true;
    delete o;
    while (_var_pending_n > 0)
        delete _var_pending[--_var_pending_n];
    free(_var_pending);
    _var_pending = nullptr;
    _var_pending_cap = 0;
    _var_releasing = false;
}

void var::__destroy__() {
    var_object *o = value;
    value = nullptr;
    if (o && --o->refs <= 0)
        _var_release(o);
}

void var::__init__(var_cnumber d) {
    var_object *o = new _var_number();
    o->__init__(d);
    __init__(o);
}

void var::__init__(int d) {
    __init__((var_cnumber)d);
}

void var::__init__(bool b) {
    var_object *o = new _var_bool();
    o->__init__((var_cnumber)(b ? 1 : 0));
    __init__(o);
}

void var::__init__(const std::string &s) {
    var_object *o = new _var_string();
    o->__init__(s);
    __init__(o);
}

void var::__init__(const char *s) {
    __init__(std::string(s ? s : ""));
}

void var::__init__(var_object *o) {
    // The new reference first: adopting the held object (or one only it keeps alive) must not free it.
    if (o)
        o->refs++;
    __destroy__();
    value = o;
}

void var::operator=(const var &o) {
    if (__eq__(o))
        return;
    __init__(o.value);
}

#define VAR_FORWARD(call)                                                                                              \
    do {                                                                                                               \
        if (value)                                                                                                     \
            return value->call;                                                                                        \
        _var_none none;                                                                                                \
        return none.call;                                                                                              \
    } while (0)

int var::__type__() const {
    VAR_FORWARD(__type__());
}
var &var::__get__(const var &key) const {
    VAR_FORWARD(__get__(key));
}
void var::__set__(const var &key, const var &v) const {
    VAR_FORWARD(__set__(key, v));
}
bool var::__has__(const var &key) const {
    VAR_FORWARD(__has__(key));
}
void var::__del__(const var &key) const {
    VAR_FORWARD(__del__(key));
}
int var::__len__() const {
    VAR_FORWARD(__len__());
}
var var::__slice__(int a, int b) const {
    VAR_FORWARD(__slice__(a, b));
}
var var::__copy__() const {
    VAR_FORWARD(__copy__());
}
var_object *var::__iter__() const {
    VAR_FORWARD(__iter__());
}
bool var::__next__(var &out) const {
    VAR_FORWARD(__next__(out));
}
bool var::__pair__(var &k, var &v) const {
    VAR_FORWARD(__pair__(k, v));
}
std::string var::__str__() const {
    VAR_FORWARD(__str__());
}
var_cnumber var::__num__() const {
    VAR_FORWARD(__num__());
}
bool var::__bool__() const {
    VAR_FORWARD(__bool__());
}
bool var::__lt__(const var &o) const {
    VAR_FORWARD(__lt__(o));
}
bool var::__eq__(const var &o) const {
    VAR_FORWARD(__eq__(o));
}
var var::__add__(const var &o) const {
    VAR_FORWARD(__add__(o));
}
var var::__mul__(const var &o) const {
    VAR_FORWARD(__mul__(o));
}
var var::__sub__(const var &o) const {
    VAR_FORWARD(__sub__(o));
}
var var::__div__(const var &o) const {
    VAR_FORWARD(__div__(o));
}

var::operator double() const {
    return __num__();
}
var::operator float() const {
    double d = __num__();
    if (std::isfinite(d) && std::fabs(d) > FLT_MAX)
        return d > 0 ? HUGE_VALF : -HUGE_VALF;
    return (float)d;
}
var::operator int() const {
    return kiv_d2i(__num__());
}
var::operator std::string() const {
    return __str__();
}
var::operator bool() const {
    return __bool__();
}

var &var::operator[](const var &key) const {
    return __get__(key);
}
var &var::operator[](int i) const {
    return __get__(var(i));
}
var &var::operator[](double d) const {
    return __get__(var(d));
}
var &var::operator[](bool b) const {
    return __get__(var(b));
}
var &var::operator[](const std::string &key) const {
    return __get__(var(key));
}
var &var::operator[](const char *key) const {
    return __get__(var(key));
}

bool var::operator==(const var &o) const {
    return __eq__(o);
}
bool var::operator!=(const var &o) const {
    return !__eq__(o);
}
bool var::operator<(const var &o) const {
    return __lt__(o);
}
bool var::operator==(const char *s) const {
    return __eq__(var(s));
}
bool var::operator==(const std::string &s) const {
    return __eq__(var(s));
}
bool var::operator==(double d) const {
    return __eq__(var(d));
}
bool var::operator==(float d) const {
    return __eq__(var(d));
}
bool var::operator==(int d) const {
    return __eq__(var(d));
}
bool var::operator==(bool b) const {
    return __eq__(var(b));
}

var var::operator+(const var &o) const {
    return __add__(o);
}
var var::operator*(const var &o) const {
    return __mul__(o);
}
var var::operator/(const var &o) const {
    return __div__(o);
}
var var::operator-(const var &o) const {
    return __sub__(o);
}
var &var::operator+=(const var &o) {
    *this = __add__(o);
    return *this;
}
var &var::operator*=(const var &o) {
    *this = __mul__(o);
    return *this;
}
var &var::operator/=(const var &o) {
    *this = __div__(o);
    return *this;
}
var &var::operator-=(const var &o) {
    *this = __sub__(o);
    return *this;
}

bool var::has(const var &key) const {
    int t = __type__();
    if (t == VAR_DICT || t == VAR_LIST || t == VAR_STRING)
        return __has__(key);
    return false;
}

var var::get(const var &key, const var &def) const {
    int t = __type__();
    if (t == VAR_DICT) {
        const auto &m = static_cast<_var_dict *>(value)->value;
        auto it = m.find(key.__str__());
        return it == m.end() ? def : it->second;
    }
    if (t == VAR_LIST) {
        const auto &l = static_cast<_var_list *>(value)->value;
        int i = _var_list_index(key, (int)l.size());
        return i < 0 ? def : l[i];
    }
    return def;
}

std::string var::str() const {
    return __str__();
}

// --- public functions: var_object (base defaults)

var_object::~var_object() {}
int var_object::__type__() const {
    return -1;
}
void var_object::__init__(var_cnumber) {}
void var_object::__init__(const std::string &) {}
void var_object::__init__(int, int, const var *) {}
void var_object::__init__(bool) {}
var_object *var_object::__copy__() const {
    return new var_object();
}

void var_object::_type_error(const char *op) const {
    std::string msg = "TypeError: '";
    msg += var_typename(__type__());
    msg += "' object does not support '";
    msg += op;
    msg += "'";
    VAR_ERROR(op, msg);
}

var &var_object::__get__(const var &) {
    _type_error("__get__");
    return _var_none_tmp();
}
void var_object::__set__(const var &, const var &) {
    _type_error("__set__");
}
bool var_object::__has__(const var &) const {
    _type_error("__has__");
    return false;
}
void var_object::__del__(const var &) {
    _type_error("__del__");
}
int var_object::__len__() const {
    _type_error("__len__");
    return 0;
}
var var_object::__slice__(int, int) const {
    _type_error("__slice__");
    return var();
}
var_object *var_object::__iter__() {
    return new var_object();
}
bool var_object::__next__(var &) {
    return false;
}
bool var_object::__pair__(var &, var &) {
    return false;
}
std::string var_object::__str__() const {
    return "";
}
var_cnumber var_object::__num__() const {
    return 0;
}
bool var_object::__bool__() const {
    return false;
}
bool var_object::__lt__(const var &) const {
    return false;
}
bool var_object::__eq__(const var &) const {
    return false;
}
var var_object::__add__(const var &) const {
    _type_error("__add__");
    return var();
}
var var_object::__mul__(const var &) const {
    _type_error("__mul__");
    return var();
}
var var_object::__sub__(const var &) const {
    _type_error("__sub__");
    return var();
}
var var_object::__div__(const var &) const {
    _type_error("__div__");
    return var();
}

// --- public functions: value kinds

// A new object of the same kind holding a copy of the value.
template <class T> static var_object *_var_copy_of(const T *self) {
    T *o = new T();
    o->value = self->value;
    return o;
}

// Slice ends as Python reads them: negative from the end, start at least 0, end at most n.
static void _var_slice_bounds(int n, int &a, int &b) {
    if (a < 0)
        a += n;
    a = std::max(0, a);
    if (b < 0)
        b += n;
    b = std::min(n, b);
}

// --- public functions: none

int _var_none::__type__() const {
    return VAR_NONE;
}
var_object *_var_none::__copy__() const {
    return new _var_none();
}
std::string _var_none::__str__() const {
    return "";
}
bool _var_none::__eq__(const var &o) const {
    return o.__type__() == VAR_NONE;
}

// --- public functions: number

std::string _var_number_to_str(var_cnumber d) {
    int t = kiv_d2i(d);
    char buf[VAR_NUMBER_TEXT_MAX];
    if ((double)t == d) {
        // Same digits as "%ld", without the format parsing: whole numbers are most of what gets printed.
        auto r = std::to_chars(buf, buf + sizeof(buf), t);
        return std::string(buf, (size_t)(r.ptr - buf));
    }
    // to_chars prints like "%f" in the "C" locale, so a script's os.setlocale cannot turn the point into a comma.
    auto r = std::to_chars(buf, buf + sizeof(buf) - 1, d, std::chars_format::fixed, 6);
    if (r.ec != std::errc())
        return "0.0";
    int n = (int)(r.ptr - buf);
    while (n - 1 > 1 && buf[n - 1] == '0' && buf[n - 2] != '.')
        n--;
    return std::string(buf, n);
}

var_cnumber _var_str_to_number(const std::string &s) {
    return kiv_platform_strtod_c(s.c_str(), nullptr);
}

void _var_number::__init__(var_cnumber d) {
    value = d;
}
var_object *_var_number::__copy__() const {
    return _var_copy_of(this);
}
int _var_number::__type__() const {
    return VAR_NUMBER;
}
std::string _var_number::__str__() const {
    return _var_number_to_str(value);
}
var_cnumber _var_number::__num__() const {
    return value;
}
bool _var_number::__bool__() const {
    return value != 0;
}
bool _var_number::__lt__(const var &o) const {
    if (VAR_NUMBER < o.__type__())
        return true;
    return value < o.__num__();
}
bool _var_number::__eq__(const var &o) const {
    return o.__type__() == VAR_NUMBER && value == o.__num__();
}
var _var_number::__add__(const var &o) const {
    return var(value + o.__num__());
}
var _var_number::__mul__(const var &o) const {
    return var(value * o.__num__());
}
var _var_number::__sub__(const var &o) const {
    return var(value - o.__num__());
}
var _var_number::__div__(const var &o) const {
    return var(value / o.__num__());
}

// --- public functions: text

void _var_string::__init__(const std::string &s) {
    value = s;
}
var_object *_var_string::__copy__() const {
    return _var_copy_of(this);
}
int _var_string::__type__() const {
    return VAR_STRING;
}
bool _var_string::__has__(const var &key) const {
    return value.find(key.__str__()) != std::string::npos;
}
int _var_string::__len__() const {
    return (int)value.size();
}

var _var_string::__slice__(int a, int b) const {
    int n = (int)value.size();
    _var_slice_bounds(n, a, b);
    if (a > n)
        return var("");
    if (a <= b)
        return var(value.substr(a, b - a));
    return var(value.substr(a));
}

var_object *_var_string::__iter__() {
    _var_string_iter *it = new _var_string_iter();
    it->string_it = value.begin();
    it->string_end = value.end();
    it->owner = var(this);
    return it;
}
std::string _var_string::__str__() const {
    return value;
}
const std::string *var_text(const var &v) {
    // Only a text's object answers VAR_STRING.
    return v.__type__() == VAR_STRING ? &static_cast<const _var_string *>(v.value)->value : nullptr;
}
bool _var_string::__bool__() const {
    return !value.empty();
}
bool _var_string::__lt__(const var &o) const {
    if (VAR_STRING < o.__type__())
        return true;
    return value < o.__str__();
}
bool _var_string::__eq__(const var &o) const {
    const std::string *t = var_text(o);
    return t && (t == &value || value == *t);
}
var _var_string::__add__(const var &o) const {
    return var(value + o.__str__());
}
var_cnumber _var_string::__num__() const {
    return _var_str_to_number(value);
}

bool _var_string_iter::__next__(var &out) {
    if (string_it == string_end)
        return false;
    out = var((int)static_cast<signed char>(*string_it));
    ++string_it;
    return true;
}

bool _var_string_iter::__pair__(var &k, var &v) {
    if (string_it == string_end)
        return false;
    k = var(n);
    v = var((int)static_cast<signed char>(*string_it));
    ++string_it;
    n++;
    return true;
}

// --- public functions: bool

void _var_bool::__init__(var_cnumber d) {
    value = (d != 0);
}
var_object *_var_bool::__copy__() const {
    return _var_copy_of(this);
}
int _var_bool::__type__() const {
    return VAR_BOOL;
}
std::string _var_bool::__str__() const {
    return value ? "True" : "False";
}
var_cnumber _var_bool::__num__() const {
    return value ? 1 : 0;
}
bool _var_bool::__bool__() const {
    return value;
}
bool _var_bool::__eq__(const var &o) const {
    return o.__type__() == VAR_BOOL && value == o.__bool__();
}

// --- public functions: containers

static std::string _var_addr_str(const char *kind, const void *p) {
    char buf[64];
    snprintf(buf, sizeof(buf), "<%s instance at %p>", kind, p);
    return buf;
}

static bool _var_addr_lt(const void *a, const var &o) {
    return std::less<const void *>()(a, static_cast<const void *>(o.value));
}

// list

void _var_list::__init__(int, int n, const var *items) {
    value.reserve(value.size() + n);
    for (int i = 0; i < n; i++)
        value.push_back(items[i]);
}

var_object *_var_list::__copy__() const {
    return _var_copy_of(this);
}
int _var_list::__type__() const {
    return VAR_LIST;
}

var &_var_list::__get__(const var &key) {
    int i = _var_list_index(key, (int)value.size());
    if (i < 0) {
        VAR_ERROR("__get__", "IndexError: list index out of range");
        return _var_none_tmp();
    }
    return value[i];
}

void _var_list::__set__(const var &key, const var &v) {
    int i = _var_list_index(key, (int)value.size());
    if (i < 0) {
        VAR_ERROR("__set__", "IndexError: list assignment index out of range");
        return;
    }
    value[i] = v;
}

bool _var_list::__has__(const var &key) const {
    return _find(key) != -1;
}
void _var_list::__del__(const var &key) {
    _pop(key);
}
int _var_list::__len__() const {
    return (int)value.size();
}
bool _var_list::__bool__() const {
    return !value.empty();
}

var _var_list::__slice__(int a, int b) const {
    _var_slice_bounds((int)value.size(), a, b);
    _var_list *o = new _var_list();
    if (a <= b)
        o->value.assign(value.begin() + a, value.begin() + b);
    return var(o);
}

var_object *_var_list::__iter__() {
    _var_list_iter *it = new _var_list_iter();
    it->list = &value;
    it->list_end = value.size();
    it->owner = var(this);
    return it;
}

std::string _var_list::__str__() const {
    return _var_addr_str("list", this);
}
var_cnumber _var_list::__num__() const {
    return 0;
}
bool _var_list::__lt__(const var &o) const {
    return o.__type__() > VAR_LIST || _var_addr_lt(this, o);
}
bool _var_list::__eq__(const var &o) const {
    return o.__type__() == VAR_LIST && o.value == this;
}

var _var_list::__add__(const var &o) const {
    if (o.__type__() != VAR_LIST) {
        VAR_ERROR("__add__", "TypeError: can only concatenate list to list");
        return var();
    }
    const std::vector<var> &other = static_cast<const _var_list *>(o.value)->value;
    _var_list *r = new _var_list();
    r->value.reserve(value.size() + other.size());
    r->value.insert(r->value.end(), value.begin(), value.end());
    r->value.insert(r->value.end(), other.begin(), other.end());
    return var(r);
}

int _var_list::_find(const var &v) const {
    for (size_t i = 0; i < value.size(); i++)
        if (value[i].__eq__(v))
            return (int)i;
    return -1;
}

void _var_list::_pop(const var &key) {
    int i = _var_list_index(key, (int)value.size());
    if (i < 0) {
        VAR_ERROR("_pop", "IndexError: list assignment index out of range");
        return;
    }
    value.erase(value.begin() + i);
}

void _var_list::_append(const var &v) {
    value.push_back(v);
}

void _var_list::_insert(int i, const var &v) {
    int n = (int)value.size();
    if (i < 0)
        i += n;
    i = std::max(0, std::min(i, n - 1));
    // v may be an element of this list; take a handle before the array moves.
    var keep(v);
    value.insert(value.begin() + i, keep);
}

void _var_list::_extend(const var &o) {
    if (o.__type__() != VAR_LIST) {
        VAR_ERROR("_extend", "TypeError: lists may only be extended by lists");
        return;
    }
    // A copy first: extending a list by itself would otherwise read the array while it grows.
    std::vector<var> items = static_cast<const _var_list *>(o.value)->value;
    value.insert(value.end(), items.begin(), items.end());
}

// A strict weak order over every kind: kind tag first, then the order within the kind; NaN sorts last among
// numbers. Within one kind it matches __lt__, which across kinds is not an ordering std::sort may be given.
static bool _var_sort_less(const var &a, const var &b) {
    int ta = a.__type__(), tb = b.__type__();
    if (ta != tb)
        return ta < tb;
    switch (ta) {
    case VAR_NUMBER: {
        double x = a.__num__(), y = b.__num__();
        if (std::isnan(x))
            return false;
        if (std::isnan(y))
            return true;
        return x < y;
    }
    case VAR_STRING:
        return static_cast<const _var_string *>(a.value)->value < static_cast<const _var_string *>(b.value)->value;
    case VAR_LIST:
    case VAR_DICT:
        return std::less<const void *>()(a.value, b.value);
    default:
        return false;
    }
}

void _var_list::_sort() {
    std::sort(value.begin(), value.end(), _var_sort_less);
}
void _var_list::_reverse() {
    std::reverse(value.begin(), value.end());
}

bool _var_list_iter::__next__(var &out) {
    if (!list || list_it >= std::min(list_end, list->size()))
        return false;
    out = (*list)[list_it];
    list_it++;
    return true;
}

bool _var_list_iter::__pair__(var &k, var &v) {
    if (!list || list_it >= std::min(list_end, list->size()))
        return false;
    // The element first: k may be the caller's handle on an element of this very list.
    var item = (*list)[list_it];
    k = var(n);
    v = item;
    list_it++;
    n++;
    return true;
}

// dict

void _var_dict::__init__(int, int n, const var *items) {
    for (int i = 0; i + 1 < n; i += 2)
        value[items[i].__str__()] = items[i + 1];
}

var_object *_var_dict::__copy__() const {
    return _var_copy_of(this);
}
int _var_dict::__type__() const {
    return VAR_DICT;
}
var &_var_dict::__get__(const var &key) {
    return value[key.__str__()];
}
void _var_dict::__set__(const var &key, const var &v) {
    var keep(v);
    value[key.__str__()] = keep;
}
bool _var_dict::__has__(const var &key) const {
    return value.find(key.__str__()) != value.end();
}

void _var_dict::__del__(const var &key) {
    auto it = value.find(key.__str__());
    if (it == value.end()) {
        VAR_ERROR("__del__", "dict::__del__:KeyError");
        return;
    }
    // The entry's value may own the key var itself; release it after the map no longer points to it.
    var keep(it->second);
    value.erase(it);
}

int _var_dict::__len__() const {
    return (int)value.size();
}
bool _var_dict::__bool__() const {
    return !value.empty();
}

var_object *_var_dict::__iter__() {
    _var_dict_iter *it = new _var_dict_iter();
    it->dict = &value;
    it->owner = var(this);
    return it;
}

std::string _var_dict::__str__() const {
    return _var_addr_str("dict", this);
}
bool _var_dict::__lt__(const var &o) const {
    return o.__type__() > VAR_DICT || _var_addr_lt(this, o);
}
bool _var_dict::__eq__(const var &o) const {
    return o.__type__() == VAR_DICT && o.value == this;
}

static std::map<std::string, var>::iterator _var_dict_iter_step(_var_dict_iter *it) {
    auto p = it->started ? it->dict->upper_bound(it->last_key) : it->dict->begin();
    if (p != it->dict->end()) {
        it->last_key = p->first;
        it->started = true;
    }
    return p;
}

bool _var_dict_iter::__next__(var &out) {
    if (!dict)
        return false;
    auto p = _var_dict_iter_step(this);
    if (p == dict->end())
        return false;
    out = var(p->first);
    return true;
}

bool _var_dict_iter::__pair__(var &k, var &v) {
    if (!dict)
        return false;
    auto p = _var_dict_iter_step(this);
    if (p == dict->end())
        return false;
    var item = p->second;
    k = var(p->first);
    v = item;
    return true;
}

// --- public functions: free functions

var var_dict() {
    return var(VAR_DICT, 0);
}
var var_dict(const var &k1, const var &v1) {
    return var(VAR_DICT, 2, k1, v1);
}
var var_dict(const var &k1, const var &v1, const var &k2, const var &v2) {
    return var(VAR_DICT, 4, k1, v1, k2, v2);
}
var var_dict(const var &k1, const var &v1, const var &k2, const var &v2, const var &k3, const var &v3) {
    return var(VAR_DICT, 6, k1, v1, k2, v2, k3, v3);
}
var var_list() {
    return var(VAR_LIST, 0);
}
std::string var_str(const var &v) {
    return v.__str__();
}
double var_max(double a, double b) {
    return a > b ? a : b;
}
double var_min(double a, double b) {
    return a < b ? a : b;
}

const char *var_typename(int tag) {
    static const char *names[] = {"none", "number", "string", "list", "dict", "bool"};
    if (tag < 0 || tag > 5)
        return "invalid";
    return names[tag];
}

std::string &var_get_errstr() {
    static std::string errstr;
    return errstr;
}

var &_var_none_tmp() {
    static var tmp;
    tmp = var();
    return tmp;
}

// --- public functions: list helpers

static _var_list *_var_as_list(const var &e, const char *op, int line) {
    if (e.__type__() != VAR_LIST) {
        _var_error(__FILE__, line, op, "UnsupportedError");
        return nullptr;
    }
    return static_cast<_var_list *>(e.value);
}

void list_append(const var &e, const var &v) {
    if (_var_list *l = _var_as_list(e, "list_append", __LINE__))
        l->_append(v);
}

void list_insert(const var &e, int k, const var &v) {
    if (_var_list *l = _var_as_list(e, "list_insert", __LINE__))
        l->_insert(k, v);
}

void list_extend(const var &e, const var &v) {
    if (_var_list *l = _var_as_list(e, "list_extend", __LINE__))
        l->_extend(v);
}

int list_find(const var &e, const var &v) {
    if (_var_list *l = _var_as_list(e, "list_find", __LINE__))
        return l->_find(v);
    return -1;
}

void list_sort(const var &e) {
    if (_var_list *l = _var_as_list(e, "list_sort", __LINE__))
        l->_sort();
}

void list_reverse(const var &e) {
    if (_var_list *l = _var_as_list(e, "list_reverse", __LINE__))
        l->_reverse();
}

// --- public functions: text helpers

int str_find(const std::string &value, const std::string &v) {
    size_t p = value.find(v);
    return p == std::string::npos ? -1 : (int)p;
}

var str_join(const std::string &value, const var &v) {
    if (v.__type__() != VAR_LIST) {
        VAR_ERROR("str_join", "TypeError");
        return var();
    }
    const std::vector<var> &items = static_cast<const _var_list *>(v.value)->value;
    std::string r;
    for (size_t i = 0; i < items.size(); i++) {
        if (i)
            r += value;
        r += items[i].__str__();
    }
    return var(r);
}

std::string str_replace(std::string value, const std::string &k, const std::string &v) {
    // An empty pattern matches everywhere without advancing: leave the text as it is.
    if (k.empty())
        return value;
    size_t p = 0;
    while ((p = value.find(k, p)) != std::string::npos) {
        value.replace(p, k.size(), v);
        p += v.size();
    }
    return value;
}

var str_split(const std::string &value, const std::string &delim) {
    var r = var_list();
    _var_list *l = static_cast<_var_list *>(r.value);
    // An empty delimiter would split forever: the whole text is the only piece.
    if (delim.empty()) {
        l->_append(var(value));
        return r;
    }
    size_t s = 0, q;
    while ((q = value.find(delim, s)) != std::string::npos) {
        l->_append(var(value.substr(s, q - s)));
        s = q + delim.size();
    }
    l->_append(var(value.substr(s)));
    return r;
}

std::string str_strip(const std::string &value) {
    size_t a = 0, b = value.size();
    while (a < b && _var_isws(value[a]))
        a++;
    while (b > a && _var_isws(value[b - 1]))
        b--;
    return value.substr(a, b - a);
}

// ASCII only: a script's os.setlocale to a single-byte locale must not rewrite the bytes of UTF-8 text.
std::string str_lower(std::string value) {
    for (char &c : value)
        if (c >= 'A' && c <= 'Z')
            c = (char)(c - 'A' + 'a');
    return value;
}

std::string str_upper(std::string value) {
    for (char &c : value)
        if (c >= 'a' && c <= 'z')
            c = (char)(c - 'a' + 'A');
    return value;
}
