// The plain-text description the jetwrite tool reads (format in README.md).
#include "jetwrite/jetwriter.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace jetwrite {

DescriptionError::DescriptionError(const std::string& f, int l, const std::string& what)
    : std::runtime_error(f + ":" + std::to_string(l) + ": " + what), file(f), line(l) {}

namespace {

std::string lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

std::vector<std::string> words(const std::string& s) {
    std::vector<std::string> out;
    std::istringstream in(s);
    std::string w;
    while (in >> w) out.push_back(w);
    return out;
}

// One CSV record with the line it starts on. An empty unquoted field is Null; a
// quoted empty field ("") is an empty text.
struct Record {
    int line;
    std::vector<Value> fields;
};

class CsvReader {
public:
    CsvReader(const std::string& text, std::string file, int firstLine)
        : text_(text), file_(std::move(file)), line_(firstLine) {
        if (text_.compare(0, 3, "\xEF\xBB\xBF") == 0) pos_ = 3;  // byte-order mark
    }

    bool next(Record& rec) {
        // Skip blank lines between records.
        while (pos_ < text_.size() && (text_[pos_] == '\n' || text_[pos_] == '\r')) {
            if (text_[pos_] == '\n') ++line_;
            ++pos_;
        }
        if (pos_ >= text_.size()) return false;
        rec.line = line_;
        rec.fields.clear();
        while (true) {
            Value field;
            if (pos_ < text_.size() && text_[pos_] == '"') {
                ++pos_;
                std::string v;
                while (true) {
                    if (pos_ >= text_.size()) throw DescriptionError(file_, rec.line, "unterminated quoted field");
                    char c = text_[pos_++];
                    if (c == '"') {
                        if (pos_ < text_.size() && text_[pos_] == '"') {
                            v.push_back('"');
                            ++pos_;
                        } else {
                            break;
                        }
                    } else {
                        if (c == '\n') ++line_;
                        v.push_back(c);
                    }
                }
                field = v;
                if (pos_ < text_.size() && text_[pos_] != ',' && text_[pos_] != '\n' && text_[pos_] != '\r')
                    throw DescriptionError(file_, line_, "text after a closing quote");
            } else {
                size_t end = text_.find_first_of(",\r\n", pos_);
                if (end == std::string::npos) end = text_.size();
                std::string v = text_.substr(pos_, end - pos_);
                pos_ = end;
                if (!v.empty()) field = v;
            }
            rec.fields.push_back(std::move(field));
            if (pos_ < text_.size() && text_[pos_] == ',') {
                ++pos_;
                continue;
            }
            if (pos_ < text_.size() && text_[pos_] == '\r') ++pos_;
            if (pos_ < text_.size() && text_[pos_] == '\n') {
                ++pos_;
                ++line_;
            }
            return true;
        }
    }

private:
    const std::string& text_;
    std::string file_;
    int line_;
    size_t pos_ = 0;
};

std::string readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void addRecord(Table& t, const Record& rec, const std::string& file) {
    if (rec.fields.size() > t.columns.size())
        throw DescriptionError(file, rec.line,
                               "row has " + std::to_string(rec.fields.size()) + " values, table " + t.name + " has " +
                                   std::to_string(t.columns.size()) + " columns");
    if (rec.fields.size() < t.columns.size())
        throw DescriptionError(file, rec.line,
                               "row has " + std::to_string(rec.fields.size()) + " values, table " + t.name +
                                   " has " + std::to_string(t.columns.size()) +
                                   " columns (leave a field empty for Null)");
    for (size_t i = 0; i < rec.fields.size(); ++i) {
        if (auto err = checkValue(t.columns[i], rec.fields[i]))
            throw DescriptionError(file, rec.line, "column " + t.columns[i].name + ": " + *err);
    }
    t.rows.push_back(rec.fields);
}

}  // namespace

std::optional<ColumnType> parseColumnType(const std::string& name) {
    static const std::map<std::string, ColumnType> types = {
        {"text", ColumnType::Text},         {"memo", ColumnType::Memo},
        {"byte", ColumnType::Byte},         {"integer", ColumnType::Integer},
        {"long", ColumnType::Long},         {"single", ColumnType::Single},
        {"double", ColumnType::Double},     {"currency", ColumnType::Currency},
        {"datetime", ColumnType::DateTime}, {"date/time", ColumnType::DateTime},
        {"yesno", ColumnType::YesNo},       {"yes/no", ColumnType::YesNo},
        {"guid", ColumnType::Guid},         {"replicationid", ColumnType::Guid},
    };
    auto it = types.find(lower(name));
    if (it == types.end()) return std::nullopt;
    return it->second;
}

Database parseDescription(const std::string& text, const std::string& fileName, const std::string& baseDir) {
    Database db;
    Table* table = nullptr;
    bool rowsStarted = false;
    std::istringstream in(text);
    std::string rawLine;
    int lineNo = 0;
    bool passwordSeen = false;
    while (std::getline(in, rawLine)) {
        ++lineNo;
        if (lineNo == 1 && rawLine.compare(0, 3, "\xEF\xBB\xBF") == 0) rawLine.erase(0, 3);
        std::string line = trim(rawLine);
        if (line.empty() || line[0] == '#') continue;
        size_t sp = line.find_first_of(" \t");
        std::string keyword = lower(line.substr(0, sp));
        std::string rest = sp == std::string::npos ? std::string() : trim(line.substr(sp));
        auto err = [&](const std::string& what) { return DescriptionError(fileName, lineNo, what); };

        if (keyword == "password") {
            if (passwordSeen) throw err("password given twice");
            passwordSeen = true;
            if (rest.empty()) throw err("password needs a value");
            db.password = rest;
            size_t chars = 0;
            for (unsigned char c : rest) chars += (c & 0xC0) != 0x80;
            if (chars > 20) throw err("password longer than 20 characters");
        } else if (keyword == "table") {
            if (rest.empty() || words(rest).size() != 1) throw err("table needs one name");
            for (const Table& t : db.tables)
                if (lower(t.name) == lower(rest)) throw err("table " + rest + " is described twice");
            db.tables.push_back(Table{rest, {}, {}});
            table = &db.tables.back();
            rowsStarted = false;
        } else if (keyword == "column") {
            if (!table) throw err("column before any table");
            if (rowsStarted) throw err("column after the rows of table " + table->name);
            auto w = words(rest);
            if (w.size() < 2 || w.size() > 3) throw err("column needs a name, a type and, for Text, a length");
            auto type = parseColumnType(w[1]);
            if (!type) throw err("unknown type \"" + w[1] + "\"");
            Column c{w[0], *type};
            if (*type == ColumnType::Text) {
                if (w.size() == 3) {
                    int len = 0;
                    try {
                        size_t used = 0;
                        len = std::stoi(w[2], &used);
                        if (used != w[2].size()) len = 0;
                    } catch (const std::exception&) {
                        len = 0;
                    }
                    if (len < 1 || len > 255) throw err("Text length must be a number from 1 to 255, not \"" + w[2] + "\"");
                    c.length = len;
                }
            } else if (w.size() == 3) {
                throw err("only Text columns take a length");
            }
            for (const Column& o : table->columns)
                if (lower(o.name) == lower(c.name)) throw err("column " + c.name + " is described twice");
            if (table->columns.size() == 255) throw err("more than 255 columns");
            table->columns.push_back(c);
        } else if (keyword == "row") {
            if (!table) throw err("row before any table");
            if (table->columns.empty()) throw err("row before any column of table " + table->name);
            rowsStarted = true;
            std::string csv = line.substr(sp == std::string::npos ? line.size() : sp + 1);
            CsvReader reader(csv, fileName, lineNo);
            Record rec;
            if (!reader.next(rec)) rec = Record{lineNo, {Value{}}};
            Record extra;
            if (reader.next(extra)) throw err("a row must stay on one line");
            addRecord(*table, rec, fileName);
        } else if (keyword == "rows") {
            if (!table) throw err("rows before any table");
            if (table->columns.empty()) throw err("rows before any column of table " + table->name);
            if (rest.empty()) throw err("rows needs a CSV file name");
            rowsStarted = true;
            std::filesystem::path csvPath = std::filesystem::u8path(rest);
            if (csvPath.is_relative()) csvPath = std::filesystem::u8path(baseDir) / csvPath;
            std::string csvText;
            try {
                csvText = readWholeFile(csvPath.string());
            } catch (const std::exception&) {
                throw err("cannot read CSV file " + csvPath.string());
            }
            std::string csvName = csvPath.string();
            CsvReader reader(csvText, csvName, 1);
            Record header;
            if (!reader.next(header)) throw DescriptionError(csvName, 1, "empty CSV file: the first line names the columns");
            if (header.fields.size() != table->columns.size())
                throw DescriptionError(csvName, header.line,
                                       "header names " + std::to_string(header.fields.size()) + " columns, table " +
                                           table->name + " has " + std::to_string(table->columns.size()));
            for (size_t i = 0; i < header.fields.size(); ++i) {
                std::string h = header.fields[i] ? trim(*header.fields[i]) : std::string();
                if (lower(h) != lower(table->columns[i].name))
                    throw DescriptionError(csvName, header.line,
                                           "header column " + std::to_string(i + 1) + " is \"" + h + "\", expected \"" +
                                               table->columns[i].name + "\"");
            }
            Record rec;
            while (reader.next(rec)) addRecord(*table, rec, csvName);
        } else {
            throw err("unknown keyword \"" + keyword + "\" (expected password, table, column, row or rows)");
        }
    }
    for (const Table& t : db.tables)
        if (t.columns.empty()) throw DescriptionError(fileName, lineNo, "table " + t.name + " has no columns");
    if (db.tables.empty()) throw DescriptionError(fileName, lineNo, "no table described");
    return db;
}

Database readDescriptionFile(const std::string& path) {
    std::string text;
    try {
        text = readWholeFile(path);
    } catch (const std::exception& e) {
        throw DescriptionError(path, 0, e.what());
    }
    std::filesystem::path base = std::filesystem::u8path(path).parent_path();
    return parseDescription(text, path, base.string());
}

}  // namespace jetwrite
