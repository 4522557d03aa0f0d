// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// A small, tolerant reader of a PDF file's object structure for tests: the
// indirect objects ("n g obj ... endobj") parsed into values, so that a test
// checks what a writer put in the file, not how it spaced it (cairo's
// spacing differs between releases). Streams are skipped, not decoded, and
// objects packed in object streams are not seen; the cross-reference table
// is not needed. Malformed input ends the scan early, never loops or throws.
#pragma once

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pdftest {

struct Value {
    enum Kind { Null, Number, Name, String, Array, Dict, Ref, Keyword } kind = Null;
    double number = 0;
    std::string text; // a name without its '/', a keyword, a string's bytes
    int ref = 0;      // the object number of a reference
    std::vector<Value> items;
    std::map<std::string, Value> dict;

    const Value* get(const std::string& key) const {
        auto at = dict.find(key);
        return kind == Dict && at != dict.end() ? &at->second : nullptr;
    }
};

class Document {
  public:
    explicit Document(std::string text) : s_(std::move(text)) {
        while (skipSpace(), pos_ < s_.size()) {
            const std::size_t start = pos_;
            Value number = parse(0);
            std::size_t afterNumber = pos_;
            Value generation = parse(0);
            Value keyword = parse(0);
            if (number.kind == Value::Number && generation.kind == Value::Number &&
                keyword.kind == Value::Keyword && keyword.text == "obj") {
                objects_[int(number.number)] = parse(0);
                skipStream();
            } else {
                pos_ = std::min(std::max(afterNumber, start + 1), s_.size());
            }
        }
    }

    const std::map<int, Value>& Objects() const { return objects_; }

    // `v` itself, or the object a reference names (null if it names none).
    const Value* Resolve(const Value* v) const {
        if (!v || v->kind != Value::Ref)
            return v;
        auto at = objects_.find(v->ref);
        return at == objects_.end() ? nullptr : &at->second;
    }

    std::vector<const Value*> Pages() const {
        std::vector<const Value*> pages;
        for (const auto& [number, object] : objects_) {
            const Value* type = object.get("Type");
            if (type && type->kind == Value::Name && type->text == "Page")
                pages.push_back(&object);
        }
        return pages;
    }

    // A page attribute, looked up through the /Parent chain as PDF lets
    // MediaBox and Resources be inherited (the chain is cut at 32 steps).
    const Value* Inherited(const Value& page, const std::string& key) const {
        const Value* node = &page;
        for (int step = 0; node && step < 32; ++step) {
            if (const Value* v = Resolve(node->get(key)))
                return v;
            node = Resolve(node->get("Parent"));
        }
        return nullptr;
    }

    static std::vector<double> Numbers(const Value* array) {
        std::vector<double> out;
        if (array && array->kind == Value::Array)
            for (const Value& item : array->items)
                out.push_back(item.kind == Value::Number ? item.number : -1e300);
        return out;
    }

  private:
    static bool isSpace(char c) {
        return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == '\0';
    }
    static bool isDelimiter(char c) {
        return std::string_view("()<>[]{}/%").find(c) != std::string_view::npos;
    }
    bool regular() const {
        return pos_ < s_.size() && !isSpace(s_[pos_]) && !isDelimiter(s_[pos_]);
    }

    void skip(std::size_t n) { pos_ = std::min(pos_ + n, s_.size()); }

    void skipSpace() {
        while (pos_ < s_.size()) {
            if (isSpace(s_[pos_]))
                ++pos_;
            else if (s_[pos_] == '%')
                while (pos_ < s_.size() && s_[pos_] != '\n' && s_[pos_] != '\r')
                    ++pos_;
            else
                break;
        }
    }

    std::string word() {
        const std::size_t start = pos_;
        while (regular())
            ++pos_;
        return s_.substr(start, pos_ - start);
    }

    // After an object's value: a stream's data is skipped up to "endstream".
    void skipStream() {
        const std::size_t save = pos_;
        skipSpace();
        if (s_.compare(pos_, 6, "stream") != 0) {
            pos_ = save;
            return;
        }
        const std::size_t end = s_.find("endstream", pos_ + 6);
        pos_ = end == std::string::npos ? s_.size() : end + 9;
    }

    Value parse(int depth) {
        Value v;
        skipSpace();
        if (pos_ >= s_.size() || depth > 64)
            return v;
        const char c = s_[pos_];
        if (s_.compare(pos_, 2, "<<") == 0) {
            pos_ += 2;
            v.kind = Value::Dict;
            while (skipSpace(), pos_ < s_.size() && s_.compare(pos_, 2, ">>") != 0) {
                Value key = parse(depth + 1);
                if (key.kind != Value::Name)
                    return v; // malformed: give up on this dictionary
                v.dict[key.text] = parse(depth + 1);
            }
            skip(2);
        } else if (c == '[') {
            ++pos_;
            v.kind = Value::Array;
            while (skipSpace(), pos_ < s_.size() && s_[pos_] != ']') {
                const std::size_t before = pos_;
                v.items.push_back(parse(depth + 1));
                if (pos_ == before)
                    skip(1);
            }
            skip(1);
        } else if (c == '/') {
            ++pos_;
            v.kind = Value::Name;
            v.text = word();
        } else if (c == '(') {
            v.kind = Value::String;
            int nesting = 0;
            for (++pos_; pos_ < s_.size(); ++pos_) {
                if (s_[pos_] == '\\')
                    ++pos_;
                else if (s_[pos_] == '(')
                    ++nesting;
                else if (s_[pos_] == ')' && nesting-- == 0)
                    break;
                else
                    v.text += s_[pos_];
            }
            skip(1);
        } else if (c == '<') {
            v.kind = Value::String;
            const std::size_t end = s_.find('>', pos_);
            pos_ = end == std::string::npos ? s_.size() : end + 1;
        } else if (std::isdigit(static_cast<unsigned char>(c)) || c == '-' || c == '+' ||
                   c == '.') {
            const std::string text = word();
            v.kind = Value::Number;
            v.number = std::strtod(text.c_str(), nullptr);
            // "n g R" is a reference.
            const std::size_t save = pos_;
            skipSpace();
            const std::string generation = word();
            skipSpace();
            if (!generation.empty() && std::isdigit(static_cast<unsigned char>(generation[0])) &&
                word() == "R") {
                v.kind = Value::Ref;
                v.ref = int(v.number);
            } else {
                pos_ = save;
            }
        } else if (regular()) {
            v.kind = Value::Keyword;
            v.text = word();
        } else {
            skip(1); // a stray delimiter
        }
        return v;
    }

    std::string s_;
    std::size_t pos_ = 0;
    std::map<int, Value> objects_;
};

} // namespace pdftest
