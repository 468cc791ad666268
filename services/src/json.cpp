#include "json.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace json {

static const Value kNull;

const Value *Value::find(const std::string &key) const {
    for (const auto &m : members_)
        if (m.first == key) return &m.second;
    return nullptr;
}

const Value &Value::get(const std::string &key) const {
    const Value *v = find(key);
    return v ? *v : kNull;
}

Value &Value::set(const std::string &key, Value v) {
    type_ = Type::Object;
    for (auto &m : members_)
        if (m.first == key) { m.second = std::move(v); return m.second; }
    members_.emplace_back(key, std::move(v));
    return members_.back().second;
}

std::string quote(const std::string &s) {
    std::string out;
    out.reserve(s.size() + 2);
    out += '"';
    for (unsigned char c : s) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char buf[8];
                snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += char(c);
            }
        }
    }
    out += '"';
    return out;
}

static void dumpTo(const Value &v, std::string &out) {
    switch (v.type()) {
    case Value::Type::Null: out += "null"; break;
    case Value::Type::Bool: out += v.asBool() ? "true" : "false"; break;
    case Value::Type::Number: {
        double d = v.asDouble();
        if (double(v.asInt()) == d || !std::isfinite(d)) {
            out += std::to_string(v.asInt());
        } else {
            char buf[32];
            snprintf(buf, sizeof buf, "%.17g", d);
            out += buf;
        }
        break;
    }
    case Value::Type::String: out += quote(v.asString()); break;
    case Value::Type::Array: {
        out += '[';
        bool first = true;
        for (const auto &item : v.items()) {
            if (!first) out += ',';
            first = false;
            dumpTo(item, out);
        }
        out += ']';
        break;
    }
    case Value::Type::Object: {
        out += '{';
        bool first = true;
        for (const auto &m : v.members()) {
            if (!first) out += ',';
            first = false;
            out += quote(m.first);
            out += ':';
            dumpTo(m.second, out);
        }
        out += '}';
        break;
    }
    }
}

std::string Value::dump() const {
    std::string out;
    dumpTo(*this, out);
    return out;
}

class Parser {
public:
    explicit Parser(const std::string &t) : t_(t) {}

    bool run(Value &out, std::string &err) {
        if (!value(out, 0)) { err = err_ + " at offset " + std::to_string(p_); return false; }
        ws();
        if (p_ != t_.size()) { err = "trailing text at offset " + std::to_string(p_); return false; }
        return true;
    }

private:
    const std::string &t_;
    size_t p_ = 0;
    std::string err_;

    bool fail(const char *why) { err_ = why; return false; }
    void ws() { while (p_ < t_.size() && (t_[p_] == ' ' || t_[p_] == '\t' || t_[p_] == '\n' || t_[p_] == '\r')) ++p_; }
    bool lit(const char *w) {
        size_t n = strlen(w);
        if (t_.compare(p_, n, w) != 0) return false;
        p_ += n;
        return true;
    }

    static void putUtf8(std::string &s, uint32_t cp) {
        if (cp < 0x80) s += char(cp);
        else if (cp < 0x800) { s += char(0xC0 | (cp >> 6)); s += char(0x80 | (cp & 0x3F)); }
        else if (cp < 0x10000) { s += char(0xE0 | (cp >> 12)); s += char(0x80 | ((cp >> 6) & 0x3F)); s += char(0x80 | (cp & 0x3F)); }
        else { s += char(0xF0 | (cp >> 18)); s += char(0x80 | ((cp >> 12) & 0x3F)); s += char(0x80 | ((cp >> 6) & 0x3F)); s += char(0x80 | (cp & 0x3F)); }
    }

    bool hex4(uint32_t &cp) {
        if (p_ + 4 > t_.size()) return fail("short \\u escape");
        cp = 0;
        for (int i = 0; i < 4; ++i) {
            char c = t_[p_++];
            cp <<= 4;
            if (c >= '0' && c <= '9') cp |= uint32_t(c - '0');
            else if (c >= 'a' && c <= 'f') cp |= uint32_t(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F') cp |= uint32_t(c - 'A' + 10);
            else return fail("bad \\u escape");
        }
        return true;
    }

    bool string(std::string &s) {
        ++p_;  // opening quote
        while (p_ < t_.size()) {
            char c = t_[p_++];
            if (c == '"') return true;
            if (c != '\\') { s += c; continue; }
            if (p_ >= t_.size()) break;
            char e = t_[p_++];
            switch (e) {
            case '"': s += '"'; break;
            case '\\': s += '\\'; break;
            case '/': s += '/'; break;
            case 'b': s += '\b'; break;
            case 'f': s += '\f'; break;
            case 'n': s += '\n'; break;
            case 'r': s += '\r'; break;
            case 't': s += '\t'; break;
            case 'u': {
                uint32_t cp;
                if (!hex4(cp)) return false;
                if (cp >= 0xD800 && cp < 0xDC00 && t_.compare(p_, 2, "\\u") == 0) {
                    p_ += 2;
                    uint32_t lo;
                    if (!hex4(lo)) return false;
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
                }
                putUtf8(s, cp);
                break;
            }
            default: return fail("bad escape");
            }
        }
        return fail("unterminated string");
    }

    bool value(Value &out, int depth) {
        if (depth > 64) return fail("nesting too deep");
        ws();
        if (p_ >= t_.size()) return fail("unexpected end");
        char c = t_[p_];
        if (c == '{') {
            ++p_;
            out = Value::object();
            ws();
            if (p_ < t_.size() && t_[p_] == '}') { ++p_; return true; }
            for (;;) {
                ws();
                if (p_ >= t_.size() || t_[p_] != '"') return fail("expected member name");
                std::string key;
                if (!string(key)) return false;
                ws();
                if (p_ >= t_.size() || t_[p_] != ':') return fail("expected ':'");
                ++p_;
                Value v;
                if (!value(v, depth + 1)) return false;
                out.set(key, std::move(v));
                ws();
                if (p_ < t_.size() && t_[p_] == ',') { ++p_; continue; }
                if (p_ < t_.size() && t_[p_] == '}') { ++p_; return true; }
                return fail("expected ',' or '}'");
            }
        }
        if (c == '[') {
            ++p_;
            out = Value::array();
            ws();
            if (p_ < t_.size() && t_[p_] == ']') { ++p_; return true; }
            for (;;) {
                Value v;
                if (!value(v, depth + 1)) return false;
                out.push(std::move(v));
                ws();
                if (p_ < t_.size() && t_[p_] == ',') { ++p_; continue; }
                if (p_ < t_.size() && t_[p_] == ']') { ++p_; return true; }
                return fail("expected ',' or ']'");
            }
        }
        if (c == '"') {
            std::string s;
            if (!string(s)) return false;
            out = Value(std::move(s));
            return true;
        }
        if (lit("true")) { out = Value(true); return true; }
        if (lit("false")) { out = Value(false); return true; }
        if (lit("null")) { out = Value(); return true; }
        if (c == '-' || (c >= '0' && c <= '9')) {
            size_t start = p_;
            if (t_[p_] == '-') ++p_;
            bool integral = true;
            while (p_ < t_.size()) {
                char d = t_[p_];
                if (d >= '0' && d <= '9') { ++p_; continue; }
                if (d == '.' || d == 'e' || d == 'E' || d == '+' || d == '-') { integral = false; ++p_; continue; }
                break;
            }
            std::string num = t_.substr(start, p_ - start);
            char *end = nullptr;
            if (integral) {
                long long v = strtoll(num.c_str(), &end, 10);
                if (!end || *end) return fail("bad number");
                out = Value(int64_t(v));
            } else {
                double v = strtod(num.c_str(), &end);
                if (!end || *end) return fail("bad number");
                out = Value(v);
            }
            return true;
        }
        return fail("unexpected character");
    }
};

bool parse(const std::string &text, Value &out, std::string *error) {
    Parser p(text);
    std::string err;
    bool ok = p.run(out, err);
    if (!ok && error) *error = err;
    return ok;
}

}  // namespace json
