#include "readers.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>

#ifdef HAVE_PROJECT_READER
#include "platform/database/adodb.h"
#endif

namespace readers {

std::string shellQuote(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'') out += "'\\''";
        else out.push_back(c);
    }
    return out + "'";
}

std::string run(const std::string& command, int* status) {
    FILE* p = popen(command.c_str(), "r");
    if (!p) throw std::runtime_error("cannot run " + command);
    std::string out;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int st = pclose(p);
    int code = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    if (status) *status = code;
    else if (code != 0) throw std::runtime_error("command failed (" + std::to_string(code) + "): " + command);
    return out;
}

namespace {

// RFC 4180 records; an unquoted empty field is Null.
std::vector<std::vector<Cell>> parseCsv(const std::string& text) {
    std::vector<std::vector<Cell>> records;
    size_t i = 0;
    while (i < text.size()) {
        std::vector<Cell> rec;
        while (true) {
            Cell field;
            if (i < text.size() && text[i] == '"') {
                std::string v;
                ++i;
                while (i < text.size()) {
                    if (text[i] == '"') {
                        if (i + 1 < text.size() && text[i + 1] == '"') {
                            v.push_back('"');
                            i += 2;
                            continue;
                        }
                        ++i;
                        break;
                    }
                    v.push_back(text[i++]);
                }
                field = v;
            } else {
                size_t e = text.find_first_of(",\n", i);
                if (e == std::string::npos) e = text.size();
                if (e > i) field = text.substr(i, e - i);
                i = e;
            }
            rec.push_back(field);
            if (i < text.size() && text[i] == ',') {
                ++i;
                continue;
            }
            if (i < text.size() && text[i] == '\n') ++i;
            break;
        }
        records.push_back(std::move(rec));
    }
    return records;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string l;
    while (std::getline(in, l))
        if (!l.empty()) out.push_back(l);
    return out;
}

std::string number(double d) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17g", d);
    return buf;
}

// Currency text to ten-thousandths; nullopt when it is not a decimal number.
std::optional<__int128> currencyUnits(const std::string& s) {
    size_t i = 0;
    bool neg = false;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) neg = s[i++] == '-';
    __int128 whole = 0, frac = 0;
    int places = 0;
    bool digits = false;
    while (i < s.size() && isdigit(static_cast<unsigned char>(s[i]))) whole = whole * 10 + (s[i++] - '0'), digits = true;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && isdigit(static_cast<unsigned char>(s[i]))) {
            if (places < 4) frac = frac * 10 + (s[i] - '0'), ++places;
            ++i;
            digits = true;
        }
    }
    if (i != s.size() || !digits) return std::nullopt;
    while (places < 4) frac *= 10, ++places;
    __int128 v = whole * 10000 + frac;
    return neg ? -v : v;
}

std::string canonicalDate(std::string s) {
    if (s.size() >= 19 && s[10] == 'T') s[10] = ' ';
    if (s.size() > 19) s.resize(19);  // ".000Z"
    if (s.size() == 10) s += " 00:00:00";
    if (s.size() == 16) s += ":00";
    return s;
}

std::optional<bool> truth(const std::string& s) {
    if (s == "1" || s == "-1" || s == "true" || s == "True" || s == "TRUE") return true;
    if (s == "0" || s == "false" || s == "False" || s == "FALSE") return false;
    return std::nullopt;
}

bool sameValue(jetwrite::ColumnType type, const jetwrite::Value& want, const Cell& got, bool emptyMeansNull) {
    using T = jetwrite::ColumnType;
    if (type == T::YesNo) {
        bool w = want && *truth(*want);
        auto g = got ? truth(*got) : std::optional<bool>(false);
        return g && *g == w;
    }
    if (!want || (emptyMeansNull && want->empty())) return !got || (emptyMeansNull && got->empty());
    if (!got) return false;
    switch (type) {
    case T::Text:
    case T::Memo: return *want == *got;
    case T::Byte:
    case T::Integer:
    case T::Long:
        try {
            return std::stoll(*want) == std::stoll(*got);
        } catch (...) {
            return false;
        }
    case T::Single:
    case T::Double: {
        double w = std::stod(*want), g;
        try {
            g = std::stod(*got);
        } catch (...) {
            return false;
        }
        double tol = type == T::Single ? 1e-6 : 1e-14;
        return std::fabs(w - g) <= tol * std::max(1.0, std::fabs(w));
    }
    case T::Currency: {
        auto w = currencyUnits(*want), g = currencyUnits(*got);
        return w && g && *w == *g;
    }
    case T::DateTime: return canonicalDate(*want) == canonicalDate(*got);
    case T::Guid: {  // braces, dashes and letter case aside
        auto plain = [](std::string s) {
            std::string o;
            for (char c : s)
                if (c != '{' && c != '}' && c != '-') o += char(std::toupper(static_cast<unsigned char>(c)));
            return o;
        };
        return plain(*want) == plain(*got);
    }
    case T::YesNo: break;
    }
    return false;
}

std::string shorten(const Cell& c) {
    if (!c) return "(null)";
    if (c->size() > 60) return "\"" + c->substr(0, 60) + "...\" (" + std::to_string(c->size()) + " bytes)";
    return "\"" + *c + "\"";
}

}  // namespace

Dump viaMdbTools(const std::string& file) {
    Dump d;
    for (const std::string& t : lines(run("mdb-tables -1 " + shellQuote(file)))) {
        d.tableNames.push_back(t);
        std::string csv = run("mdb-export -T '%Y-%m-%d %H:%M:%S' " + shellQuote(file) + " " + shellQuote(t));
        auto records = parseCsv(csv);
        if (records.empty()) throw std::runtime_error("mdb-export gave no header for " + t);
        for (const Cell& h : records.front()) d.columns[t].push_back(h.value_or(""));
        d.tables[t] = Rows(records.begin() + 1, records.end());
    }
    return d;
}

std::string mdbSchema(const std::string& file) { return run("mdb-schema " + shellQuote(file) + " 2>&1"); }

std::string independentReaderModules() {
    std::string dir = INDEPENDENT_READER_MODULES;
    if (std::filesystem::exists(dir + "/mdb-reader/package.json")) return dir;
    return {};
}

namespace {

// The JSON picture both mdb-reader (through read_with_mdb_reader.mjs) and
// `velmora-cli dump` print: {"password"?, "tables": {NAME: {"columns", "rows"}}}.
Dump parseJsonDump(const std::string& json) {
    QJsonParseError err;
    QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(json), &err);
    if (doc.isNull()) throw std::runtime_error("mdb-reader output is not JSON: " + err.errorString().toStdString());
    QJsonObject root = doc.object();
    Dump d;
    if (root.contains("password") && !root["password"].isNull()) d.password = root["password"].toString().toStdString();
    QJsonObject tables = root["tables"].toObject();
    for (auto it = tables.begin(); it != tables.end(); ++it) {
        std::string name = it.key().toStdString();
        d.tableNames.push_back(name);
        QJsonObject t = it.value().toObject();
        std::vector<QString> cols;
        for (const QJsonValue& c : t["columns"].toArray()) {
            cols.push_back(c.toObject()["name"].toString());
            d.columns[name].push_back(cols.back().toStdString());
        }
        Rows rows;
        for (const QJsonValue& r : t["rows"].toArray()) {
            QJsonObject o = r.toObject();
            std::vector<Cell> row;
            for (const QString& c : cols) {
                QJsonValue v = o[c];
                if (v.isNull() || v.isUndefined()) row.push_back(std::nullopt);
                else if (v.isBool()) row.push_back(std::string(v.toBool() ? "true" : "false"));
                else if (v.isDouble()) row.push_back(number(v.toDouble()));
                else row.push_back(v.toString().toStdString());
            }
            rows.push_back(std::move(row));
        }
        d.tables[name] = std::move(rows);
    }
    return d;
}

}  // namespace

Dump viaMdbReader(const std::string& file) {
    return parseJsonDump(run("node " + shellQuote(MDB_READER_SCRIPT) + " " + shellQuote(independentReaderModules()) +
                             " " + shellQuote(file)));
}

#ifdef VELMORA_CLI
bool haveVelmoraCli() { return true; }
Dump viaVelmoraCli(const std::string& file, const std::string& password) {
    return parseJsonDump(run(shellQuote(VELMORA_CLI) + " dump " + shellQuote(file) + " --password " + shellQuote(password)));
}
#else
bool haveVelmoraCli() { return false; }
Dump viaVelmoraCli(const std::string&, const std::string&) { return {}; }
#endif

#ifdef HAVE_PROJECT_READER
bool haveProjectReader() { return true; }

Dump viaProjectReader(const std::string& file, const std::string& password, const std::vector<std::string>& tables) {
    ado::Connection conn;
    conn.Open("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + file +
              ";Persist Security Info=False;Jet OLEDB:Database Password=" + password);
    Dump d;
    for (const std::string& t : tables) {
        ado::Recordset rs;
        rs.Open("select * from [" + t + "]", conn, 1, 1, -1);
        d.tableNames.push_back(t);
        // Field names can only be read on a current record.
        d.columns[t];
        if (rs.RecordCount() > 0)
            for (int i = 0; i < rs.FieldsCount(); ++i) d.columns[t].push_back(rs.Fields(i).Name());
        Rows rows;
        long n = rs.RecordCount();
        for (long r = 0; r < n; ++r) {
            std::vector<Cell> row;
            for (int i = 0; i < rs.FieldsCount(); ++i) {
                const ado::Variant& v = rs.Fields(i).Value();
                using VT = ado::Variant::Type;
                if (v.isNull()) {
                    row.push_back(std::nullopt);
                } else if (v.type() == VT::Currency) {
                    long long u = v.currencyUnits();
                    unsigned long long a = u < 0 ? 0ULL - (unsigned long long)u : (unsigned long long)u;
                    char buf[48];
                    std::snprintf(buf, sizeof buf, "%s%llu.%04llu", u < 0 ? "-" : "", a / 10000, a % 10000);
                    row.push_back(std::string(buf));
                } else if (v.type() == VT::Single || v.type() == VT::Double) {
                    row.push_back(number(v.toDouble()));
                } else {
                    row.push_back(v.toText());
                }
            }
            rows.push_back(std::move(row));
            rs.MoveNext();
        }
        rs.Close();
        d.tables[t] = std::move(rows);
    }
    conn.Close();
    return d;
}
#else
bool haveProjectReader() { return false; }
Dump viaProjectReader(const std::string&, const std::string&, const std::vector<std::string>&) { return {}; }
#endif

std::string compare(const jetwrite::Database& written, const Dump& read, const std::string& readerName,
                    bool emptyMeansNull) {
    if (read.tableNames.size() != written.tables.size())
        return readerName + ": " + std::to_string(read.tableNames.size()) + " tables, written " +
               std::to_string(written.tables.size());
    for (const jetwrite::Table& t : written.tables) {
        auto it = read.tables.find(t.name);
        if (it == read.tables.end()) return readerName + ": no table " + t.name;
        const auto& cols = read.columns.at(t.name);
        if (cols.empty() && t.rows.empty() && it->second.empty()) continue;  // the reader names no columns then
        if (cols.size() != t.columns.size())
            return readerName + ": table " + t.name + " has " + std::to_string(cols.size()) + " columns";
        for (size_t c = 0; c < cols.size(); ++c)
            if (cols[c] != t.columns[c].name)
                return readerName + ": table " + t.name + " column " + std::to_string(c) + " is " + cols[c];
        const Rows& rows = it->second;
        if (rows.size() != t.rows.size())
            return readerName + ": table " + t.name + " has " + std::to_string(rows.size()) + " rows, written " +
                   std::to_string(t.rows.size());
        for (size_t r = 0; r < rows.size(); ++r) {
            for (size_t c = 0; c < t.columns.size(); ++c) {
                jetwrite::Value want = c < t.rows[r].size() ? t.rows[r][c] : jetwrite::Value{};
                Cell got = c < rows[r].size() ? rows[r][c] : Cell{};
                if (!sameValue(t.columns[c].type, want, got, emptyMeansNull))
                    return readerName + ": table " + t.name + " row " + std::to_string(r + 1) + " column " +
                           t.columns[c].name + ": wrote " + shorten(want) + ", read " + shorten(got);
            }
        }
    }
    return {};
}

}  // namespace readers
