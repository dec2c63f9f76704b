// The value kinds behind var and the number conversions, shared by kiv_var.cpp and kiv_json.cpp, which builds
// and reads its trees straight from the kinds' fields.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "kiv_var.h"

class _var_none : public var_object {
public:
    int __type__() const override;
    var_object *__copy__() const override;
    std::string __str__() const override;
    bool __eq__(const var &o) const override;
};

class _var_number : public var_object {
public:
    var_cnumber value = 0;

    void __init__(var_cnumber d) override;
    using var_object::__init__;
    var_object *__copy__() const override;
    int __type__() const override;
    std::string __str__() const override;
    var_cnumber __num__() const override;
    bool __bool__() const override;
    bool __lt__(const var &o) const override;
    bool __eq__(const var &o) const override;
    var __add__(const var &o) const override;
    var __mul__(const var &o) const override;
    var __sub__(const var &o) const override;
    var __div__(const var &o) const override;
};

class _var_string : public var_object {
public:
    std::string value;

    void __init__(const std::string &s) override;
    using var_object::__init__;
    var_object *__copy__() const override;
    int __type__() const override;
    bool __has__(const var &key) const override;
    int __len__() const override;
    var __slice__(int a, int b) const override;
    var_object *__iter__() override;
    std::string __str__() const override;
    bool __bool__() const override;
    bool __lt__(const var &o) const override;
    bool __eq__(const var &o) const override;
    var __add__(const var &o) const override;
    var_cnumber __num__() const override;
};

// Iterators keep their value alive through owner, so a walk over a temporary never reads freed memory.
class _var_string_iter : public var_object {
public:
    int n = 0;
    std::string::const_iterator string_it, string_end;
    var owner;

    bool __next__(var &out) override;
    bool __pair__(var &k, var &v) override;
};

class _var_bool : public var_object {
public:
    bool value = false;

    void __init__(var_cnumber d) override;
    using var_object::__init__;
    var_object *__copy__() const override;
    int __type__() const override;
    std::string __str__() const override;
    var_cnumber __num__() const override;
    bool __bool__() const override;
    bool __eq__(const var &o) const override;
};

class _var_list : public var_object {
public:
    std::vector<var> value;

    void __init__(int type, int n, const var *items) override;
    using var_object::__init__;
    var_object *__copy__() const override;
    int __type__() const override;
    var &__get__(const var &key) override;
    void __set__(const var &key, const var &v) override;
    bool __has__(const var &key) const override;
    void __del__(const var &key) override;
    int __len__() const override;
    bool __bool__() const override;
    var __slice__(int a, int b) const override;
    var_object *__iter__() override;
    std::string __str__() const override;
    var_cnumber __num__() const override;
    bool __lt__(const var &o) const override;
    bool __eq__(const var &o) const override;
    var __add__(const var &o) const override;

    int _find(const var &v) const;
    void _pop(const var &key);
    void _append(const var &v);
    void _insert(int i, const var &v);
    void _extend(const var &o);
    void _sort();
    void _reverse();
};

class _var_dict : public var_object {
public:
    // std::string orders by unsigned bytes, a proper prefix first.
    std::map<std::string, var> value;

    void __init__(int type, int n, const var *items) override;
    using var_object::__init__;
    var_object *__copy__() const override;
    int __type__() const override;
    var &__get__(const var &key) override;
    void __set__(const var &key, const var &v) override;
    bool __has__(const var &key) const override;
    void __del__(const var &key) override;
    int __len__() const override;
    bool __bool__() const override;
    var_object *__iter__() override;
    std::string __str__() const override;
    bool __lt__(const var &o) const override;
    bool __eq__(const var &o) const override;
};

class _var_list_iter : public var_object {
public:
    int n = 0;
    // Walks by index up to the length seen at creation, so a list that grows meanwhile is never read past its end.
    const std::vector<var> *list = nullptr;
    size_t list_it = 0, list_end = 0;
    var owner;

    bool __next__(var &out) override;
    bool __pair__(var &k, var &v) override;
};

class _var_dict_iter : public var_object {
public:
    // Steps by key (the first key after the last one seen), so removing the current entry during a walk is safe.
    std::map<std::string, var> *dict = nullptr;
    std::string last_key;
    bool started = false;
    var owner;

    bool __next__(var &out) override;
    bool __pair__(var &k, var &v) override;
};

// The scratch none that failing reference-returning operations answer; reset to none at every call.
var &_var_none_tmp();

// Number text: "%ld" for a whole number in the int range, else fixed point with six decimals trimmed to at
// least one; independent of the C locale.
std::string _var_number_to_str(var_cnumber d);
// Leading number of a text as the C runtime's atof reads it in the "C" locale, whatever locale is set.
var_cnumber _var_str_to_number(const std::string &s);
