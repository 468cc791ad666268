// A small JSON value with a parser and a compact writer. The local services only
// need it for control requests, request records and the data-service replies, so
// it keeps object members in insertion order and numbers as double plus int64.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace json {

class Value {
public:
    enum class Type { Null, Bool, Number, String, Array, Object };

    Value() = default;
    Value(std::nullptr_t) {}
    Value(bool b) : type_(Type::Bool), bool_(b) {}
    Value(int v) : type_(Type::Number), num_(v), int_(v), integral_(true) {}
    Value(int64_t v) : type_(Type::Number), num_(double(v)), int_(v), integral_(true) {}
    Value(uint64_t v) : Value(int64_t(v)) {}
    Value(double v) : type_(Type::Number), num_(v), int_(int64_t(v)), integral_(false) {}
    Value(const char *s) : type_(Type::String), str_(s) {}
    Value(std::string s) : type_(Type::String), str_(std::move(s)) {}

    static Value array() { Value v; v.type_ = Type::Array; return v; }
    static Value object() { Value v; v.type_ = Type::Object; return v; }

    Type type() const { return type_; }
    bool isNull() const { return type_ == Type::Null; }
    bool isBool() const { return type_ == Type::Bool; }
    bool isNumber() const { return type_ == Type::Number; }
    bool isString() const { return type_ == Type::String; }
    bool isArray() const { return type_ == Type::Array; }
    bool isObject() const { return type_ == Type::Object; }

    bool asBool() const { return type_ == Type::Bool ? bool_ : (type_ == Type::Number && num_ != 0); }
    int64_t asInt() const { return type_ == Type::Number ? (integral_ ? int_ : int64_t(num_)) : 0; }
    double asDouble() const { return type_ == Type::Number ? num_ : 0.0; }
    const std::string &asString() const { return str_; }

    // Arrays.
    size_t size() const { return type_ == Type::Array ? items_.size() : members_.size(); }
    const Value &at(size_t i) const { return items_.at(i); }
    Value &push(Value v) { items_.push_back(std::move(v)); return items_.back(); }
    const std::vector<Value> &items() const { return items_; }

    // Objects.
    bool has(const std::string &key) const { return find(key) != nullptr; }
    const Value *find(const std::string &key) const;
    const Value &get(const std::string &key) const;  // null value when missing
    Value &set(const std::string &key, Value v);
    const std::vector<std::pair<std::string, Value>> &members() const { return members_; }

    std::string dump() const;

private:
    Type type_ = Type::Null;
    bool bool_ = false;
    double num_ = 0;
    int64_t int_ = 0;
    bool integral_ = false;
    std::string str_;
    std::vector<Value> items_;
    std::vector<std::pair<std::string, Value>> members_;

    friend class Parser;
};

// Parses text; on failure returns false and puts a short reason into error.
bool parse(const std::string &text, Value &out, std::string *error = nullptr);

// Quotes and escapes a string as a JSON string literal.
std::string quote(const std::string &s);

}  // namespace json
