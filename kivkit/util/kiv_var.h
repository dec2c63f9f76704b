// var: the engine's one dynamic value (none, number, text, list, dict, bool), a shared handle onto a
// reference-counted value object. Parameters, events, JSON documents and script values all travel as var.
#pragma once

#include <map>
#include <string>
#include <vector>

typedef double var_cnumber;

enum { VAR_NONE = 0, VAR_NUMBER = 1, VAR_STRING = 2, VAR_LIST = 3, VAR_DICT = 4, VAR_BOOL = 5 };

#include "kiv_util.h" // kiv_d2i

class var_object;

class var {
public:
    var_object *value;

    var();
    var(int v);
    var(long v);
    var(long long v);
    var(unsigned v);
    var(unsigned long v);
    var(unsigned long long v);
    var(float v);
    var(double v);
    var(bool v);
    var(const char *v);
    var(const std::string &v);
    // Takes the bytes over, so a large text becomes a value without a copy.
    var(std::string &&v);
    var(var_object *o);
    var(const var &o);
    var(var &&o) noexcept;
    // The builder: a list of the values, or a dict of (key, value) pairs; any other type gives none.
    template <class... A> var(int type, int n, const A &...a) : value(nullptr) {
        const var items[] = {var(a)..., var()};
        _build(type, n, items, (int)sizeof...(A));
    }
    ~var();

    void __destroy__();
    void __init__(var_cnumber d);
    void __init__(int d);
    void __init__(bool b);
    void __init__(const std::string &s);
    void __init__(const char *s);
    void __init__(var_object *o);
    template <class... A> void __init__(int type, int n, const A &...a) {
        var t(type, n, a...);
        __init__(t.value);
    }
    void operator=(const var &o);

    int __type__() const;
    var &__get__(const var &key) const;
    void __set__(const var &key, const var &v) const;
    bool __has__(const var &key) const;
    void __del__(const var &key) const;
    int __len__() const;
    var __slice__(int a, int b) const;
    var __copy__() const;
    var_object *__iter__() const;
    bool __next__(var &out) const;
    bool __pair__(var &k, var &v) const;
    std::string __str__() const;
    var_cnumber __num__() const;
    bool __bool__() const;
    bool __lt__(const var &o) const;
    bool __eq__(const var &o) const;
    var __add__(const var &o) const;
    var __mul__(const var &o) const;
    var __sub__(const var &o) const;
    var __div__(const var &o) const;

    operator double() const;
    operator float() const;
    operator int() const;
    operator std::string() const;
    operator bool() const;

    var &operator[](const var &key) const;
    var &operator[](int i) const;
    // Without these a double or bool subscript would silently pick the int form.
    var &operator[](double d) const;
    var &operator[](bool b) const;
    var &operator[](const std::string &key) const;
    var &operator[](const char *key) const;

    bool operator==(const var &o) const;
    bool operator!=(const var &o) const;
    bool operator<(const var &o) const;
    bool operator==(const char *s) const;
    bool operator==(const std::string &s) const;
    bool operator==(double d) const;
    bool operator==(float d) const;
    bool operator==(int d) const;
    bool operator==(bool b) const;

    var operator+(const var &o) const;
    var operator*(const var &o) const;
    var operator/(const var &o) const;
    var operator-(const var &o) const;
    var &operator+=(const var &o);
    var &operator*=(const var &o);
    var &operator/=(const var &o);
    var &operator-=(const var &o);

    bool has(const var &key) const;
    // The entry or element under key when it exists, else def; never inserts and never logs.
    var get(const var &key, const var &def) const;
    std::string str() const;

private:
    void _build(int type, int n, const var *items, int count);
};

// The bytes of a text value where they are held, so a large text is read without a copy; null for any other kind.
const std::string *var_text(const var &v);

class var_object {
public:
    int refs;

    var_object() : refs(0) {}
    var_object(const var_object &) = delete;
    var_object &operator=(const var_object &) = delete;
    virtual ~var_object();
    virtual int __type__() const;
    virtual void __init__(var_cnumber d);
    virtual void __init__(const std::string &s);
    virtual void __init__(int type, int n, const var *items);
    virtual void __init__(bool b);
    virtual var_object *__copy__() const;
    virtual var &__get__(const var &key);
    virtual void __set__(const var &key, const var &v);
    virtual bool __has__(const var &key) const;
    virtual void __del__(const var &key);
    virtual int __len__() const;
    virtual var __slice__(int a, int b) const;
    virtual var_object *__iter__();
    virtual bool __next__(var &out);
    virtual bool __pair__(var &k, var &v);
    virtual std::string __str__() const;
    virtual var_cnumber __num__() const;
    virtual bool __bool__() const;
    virtual bool __lt__(const var &o) const;
    virtual bool __eq__(const var &o) const;
    virtual var __add__(const var &o) const;
    virtual var __mul__(const var &o) const;
    virtual var __sub__(const var &o) const;
    virtual var __div__(const var &o) const;

protected:
    // Logs "TypeError: '<kind>' object does not support '<op>'" and records it as the last error.
    void _type_error(const char *op) const;
};

var var_dict();
var var_dict(const var &k1, const var &v1);
var var_dict(const var &k1, const var &v1, const var &k2, const var &v2);
var var_dict(const var &k1, const var &v1, const var &k2, const var &v2, const var &k3, const var &v3);
var var_list();
std::string var_str(const var &v);
double var_max(double a, double b);
double var_min(double a, double b);
const char *var_typename(int tag);
std::string &var_get_errstr();

void list_append(const var &e, const var &v);
void list_insert(const var &e, int k, const var &v);
void list_extend(const var &e, const var &v);
int list_find(const var &e, const var &v);
void list_sort(const var &e);
void list_reverse(const var &e);

int str_find(const std::string &value, const std::string &v);
var str_join(const std::string &value, const var &v);
std::string str_replace(std::string value, const std::string &k, const std::string &v);
var str_split(const std::string &value, const std::string &delim);
std::string str_strip(const std::string &value);
std::string str_lower(std::string value);
std::string str_upper(std::string value);
