// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The CSV reader (libcsv, fed one line segment at a time so that each record
// knows the line it starts on) and the JSON reader (JsonRecord.h, each
// array element cut out by a small scanner and parsed on its own). See
// DataReader.h.
#include "DataReader.h"

#include <csv.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <deque>
#include <fstream>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace folio {

namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

std::string plural(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

class CsvReader : public DataReader {
  public:
    explicit CsvReader(std::unique_ptr<std::istream> in) : in_(std::move(in)) {
        // Strict: a quote inside an unquoted field, text after a closing
        // quote and an unclosed quote at the end are errors, not guesses.
        csv_init(&parser_, CSV_STRICT | CSV_STRICT_FINI);
        // RFC 4180: spaces are part of a field (libcsv trims them by default).
        csv_set_space_func(&parser_, [](unsigned char) { return 0; });
    }
    ~CsvReader() override { csv_free(&parser_); }
    CsvReader(const CsvReader&) = delete;
    CsvReader& operator=(const CsvReader&) = delete;

    // Reads the header row: false with `error` set when there is none.
    bool Start(std::string& error) {
        fill();
        if (done_.empty()) {
            error = fatal_.empty() ? "no header row" : "the header row: " + fatal_;
            return false;
        }
        header_ = std::move(done_.front().first);
        done_.pop_front();
        return true;
    }

    bool Next(DataRecord& record) override {
        fill();
        record = DataRecord{};
        if (!done_.empty()) {
            auto [fields, line] = std::move(done_.front());
            done_.pop_front();
            record.number = ++number_;
            record.line = line;
            if (fields.size() != header_.size()) {
                record.error = "the row has " + plural(fields.size(), "field", "fields") +
                               " where the header has " + std::to_string(header_.size());
                return true;
            }
            for (std::size_t i = 0; i < fields.size(); ++i)
                record.values.insert_or_assign(header_[i], std::move(fields[i]));
            return true;
        }
        if (fatal_.empty())
            return false;
        // The rest of the file cannot be read reliably after a parse error.
        record.number = ++number_;
        record.line = recordStart_ ? recordStart_ : line_;
        record.error = fatal_ + "; the rest of the file is not read";
        fatal_.clear();
        ended_ = true;
        return true;
    }

  private:
    // Feeds the parser until a record is done, the file ends or it fails.
    void fill() {
        while (done_.empty() && !ended_ && fatal_.empty())
            feedSegment();
    }

    // Feeds the next piece of input up to and including a line end (or the
    // end of the block read), so that line numbers follow the records. A
    // line ends at LF, CR LF or a lone CR (old Mac files); the LF of a CR LF
    // split between two blocks is fed alone and counts no second line.
    void feedSegment() {
        if (pos_ == len_) {
            in_->read(block_.data(), std::streamsize(block_.size()));
            len_ = std::size_t(in_->gcount());
            pos_ = 0;
            if (len_ == 0) {
                ended_ = true;
                if (csv_fini(&parser_, onField, onRecord, this) != 0)
                    fatal_ = "a quoted field is not closed";
                return;
            }
            if (first_) {
                first_ = false;
                if (std::string_view(block_.data(), len_).starts_with(kUtf8Mark))
                    pos_ = kUtf8Mark.size();
            }
        }
        const char* start = block_.data() + pos_;
        const char* const end = block_.data() + len_;
        const bool lfOfCr = afterCr_ && *start == '\n';
        const char* stop =
            lfOfCr ? start
                   : std::find_if(start, end, [](char c) { return c == '\n' || c == '\r'; });
        const bool lineEnds = stop != end && !lfOfCr;
        if (stop != end && *stop == '\r' && stop + 1 != end && stop[1] == '\n')
            ++stop;
        afterCr_ = stop != end && *stop == '\r';
        const std::size_t n =
            stop != end ? std::size_t(stop - start) + 1 : std::size_t(end - start);
        pos_ += n;
        if (recordStart_ == 0 &&
            std::any_of(start, start + n, [](char c) { return c != '\r' && c != '\n'; }))
            recordStart_ = line_;
        recordBytes_ += n;
        if (csv_parse(&parser_, start, n, onField, onRecord, this) != n) {
            fatal_ = std::string("bad quoting (") + csv_strerror(csv_error(&parser_)) + ")";
            return;
        }
        if (lineEnds)
            ++line_;
        if (recordBytes_ > kMaxCsvRecordBytes)
            fatal_ =
                "the record is longer than " + std::to_string(kMaxCsvRecordBytes >> 20) + " MiB";
    }

    static void onField(void* s, std::size_t len, void* self) {
        auto* r = static_cast<CsvReader*>(self);
        r->fields_.emplace_back(s ? static_cast<const char*>(s) : "", s ? len : 0);
    }
    static void onRecord(int, void* self) {
        auto* r = static_cast<CsvReader*>(self);
        r->done_.emplace_back(std::move(r->fields_), r->recordStart_ ? r->recordStart_ : r->line_);
        r->fields_.clear();
        r->recordStart_ = 0;
        r->recordBytes_ = 0;
    }

    std::unique_ptr<std::istream> in_;
    csv_parser parser_{};
    std::array<char, 1 << 16> block_{};
    std::size_t pos_ = 0, len_ = 0;
    bool first_ = true, ended_ = false;
    bool afterCr_ = false; // the last byte fed was a CR
    int line_ = 1;        // the line being fed
    int recordStart_ = 0; // the line the record being read began on; 0: none yet
    std::size_t recordBytes_ = 0;
    std::vector<std::string> header_, fields_;
    std::deque<std::pair<std::vector<std::string>, int>> done_;
    std::string fatal_;
    int number_ = 0;
};

class JsonReader : public DataReader {
  public:
    JsonReader(std::string text, std::size_t pos, bool array)
        : text_(std::move(text)), pos_(pos), array_(array) {}

    bool Next(DataRecord& record) override {
        record = DataRecord{};
        if (ended_)
            return false;
        if (!array_) {
            ended_ = true;
            return take(std::string_view(text_).substr(pos_), pos_, record);
        }
        skipBlank();
        if (pos_ < text_.size() && text_[pos_] == ']') {
            ended_ = true;
            return false;
        }
        if (pos_ >= text_.size()) {
            ended_ = true;
            if (number_ == 0 && !afterComma_)
                return false; // "[" alone: reported when the file was opened
            record.number = ++number_;
            record.line = lineAt(pos_);
            record.error = "the array is not closed with ]";
            return true;
        }
        // The element runs to the ',' or ']' outside strings and brackets.
        const std::size_t start = pos_;
        int depth = 0, deepest = 0;
        bool inString = false;
        std::size_t i = start;
        for (; i < text_.size(); ++i) {
            const char c = text_[i];
            if (inString) {
                if (c == '\\')
                    ++i;
                else if (c == '"')
                    inString = false;
            } else if (c == '"') {
                inString = true;
            } else if (c == '{' || c == '[') {
                deepest = std::max(deepest, ++depth);
            } else if (c == '}' || c == ']') {
                if (depth == 0)
                    break;
                --depth;
            } else if (c == ',' && depth == 0) {
                break;
            }
        }
        i = std::min(i, text_.size());
        pos_ = i < text_.size() && text_[i] == ',' ? i + 1 : i;
        afterComma_ = i < text_.size() && text_[i] == ',';
        if (deepest > kMaxJsonDepth) {
            record.number = ++number_;
            record.line = lineAt(start);
            record.error =
                "the record is nested deeper than " + std::to_string(kMaxJsonDepth) + " levels";
            return true;
        }
        return take(std::string_view(text_).substr(start, i - start), start, record);
    }

  private:
    bool take(std::string_view element, std::size_t at, DataRecord& record) {
        record.number = ++number_;
        record.line = lineAt(at);
        std::string detail;
        switch (ReadJsonRecord(element, record.values, detail)) {
        case JsonRecordFault::None:
            break;
        case JsonRecordFault::TooDeep:
            record.error = "the record is " + detail;
            break;
        case JsonRecordFault::NotJson:
            record.error = "not valid JSON: " + detail;
            break;
        case JsonRecordFault::NotObject:
            record.error = "the record is not a JSON object";
            break;
        }
        return true;
    }

    void skipBlank() {
        while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' ||
                                       text_[pos_] == '\n' || text_[pos_] == '\r'))
            ++pos_;
    }

    // The 1-based line of offset `at`, counted on from the last one asked.
    // Lines end at LF, CR LF or a lone CR.
    int lineAt(std::size_t at) {
        at = std::min(at, text_.size());
        if (at < countedTo_) {
            countedTo_ = 0;
            line_ = 1;
        }
        for (std::size_t i = countedTo_; i < at; ++i)
            if (text_[i] == '\n' || (text_[i] == '\r' && text_.compare(i + 1, 1, "\n") != 0))
                ++line_;
        countedTo_ = at;
        return line_;
    }

    std::string text_;
    std::size_t pos_;
    bool array_;
    bool ended_ = false, afterComma_ = false;
    int number_ = 0;
    std::size_t countedTo_ = 0;
    int line_ = 1;
};

} // namespace

std::unique_ptr<DataReader> ReadCsv(std::unique_ptr<std::istream> in, std::string& error) {
    error.clear();
    auto reader = std::make_unique<CsvReader>(std::move(in));
    if (!reader->Start(error))
        return nullptr;
    return reader;
}

std::unique_ptr<DataReader> ReadJson(std::unique_ptr<std::istream> in, std::string& error) {
    error.clear();
    std::string text;
    std::array<char, 1 << 16> block;
    while (in->read(block.data(), std::streamsize(block.size())), in->gcount() > 0) {
        text.append(block.data(), std::size_t(in->gcount()));
        if (text.size() > kMaxJsonBytes) {
            error = "the JSON data is larger than " + std::to_string(kMaxJsonBytes >> 20) + " MiB";
            return nullptr;
        }
    }
    if (in->bad()) {
        error = "cannot read the data";
        return nullptr;
    }
    std::size_t pos = std::string_view(text).starts_with(kUtf8Mark) ? kUtf8Mark.size() : 0;
    pos = text.find_first_not_of(" \t\r\n", pos);
    if (pos == std::string::npos || (text[pos] != '{' && text[pos] != '[')) {
        error = "not JSON data: it must be an object (one fax) or an array of objects";
        return nullptr;
    }
    const bool array = text[pos] == '[';
    return std::make_unique<JsonReader>(std::move(text), array ? pos + 1 : pos, array);
}

std::unique_ptr<DataReader> OpenData(const std::string& path, std::string& error) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        error = path + ": cannot open the data file" +
                (::stat(path.c_str(), &st) == 0 ? ": not a regular file" : "");
        return nullptr;
    }
    auto in = std::make_unique<std::ifstream>(path, std::ios::binary);
    if (!*in) {
        error = path + ": cannot open the data file";
        return nullptr;
    }
    auto endsWith = [&](const char* ext) {
        const std::size_t n = std::strlen(ext);
        if (path.size() < n)
            return false;
        return std::equal(path.end() - std::ptrdiff_t(n), path.end(), ext, [](char a, char b) {
            return (a >= 'A' && a <= 'Z' ? char(a + 32) : a) == b;
        });
    };
    bool json = endsWith(".json");
    if (!json && !endsWith(".csv")) {
        // By content: JSON begins with an object or an array.
        char head[64] = {};
        in->read(head, sizeof head);
        std::string_view start(head, std::size_t(in->gcount()));
        if (start.starts_with(kUtf8Mark))
            start.remove_prefix(kUtf8Mark.size());
        const std::size_t first = start.find_first_not_of(" \t\r\n");
        json = first != std::string_view::npos && (start[first] == '{' || start[first] == '[');
        in->clear();
        in->seekg(0);
    }
    auto reader = json ? ReadJson(std::move(in), error) : ReadCsv(std::move(in), error);
    if (!reader)
        error = path + ": " + error;
    return reader;
}

} // namespace folio
