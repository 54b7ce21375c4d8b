#include "platform/database/jet_dump.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "common/text_case.h"

namespace ado {

std::string jsonString(const std::string& s) {
  std::string o = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"': o += "\\\""; break;
      case '\\': o += "\\\\"; break;
      case '\n': o += "\\n"; break;
      case '\r': o += "\\r"; break;
      case '\t': o += "\\t"; break;
      case '\b': o += "\\b"; break;
      case '\f': o += "\\f"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          o += buf;
        } else {
          o += char(c);
        }
    }
  }
  return o + "\"";
}

std::string jsonNumber(double d) {
  if (!std::isfinite(d)) return "null";
  char buf[40];
  for (int p = 1; p <= 17; ++p) {
    std::snprintf(buf, sizeof buf, "%.*g", p, d);
    if (std::strtod(buf, nullptr) == d) break;
  }
  return buf;
}

namespace {

std::string jsonValue(const Variant& v) {
  using T = Variant::Type;
  switch (v.type()) {
    case T::Null: return "null";
    case T::Boolean: return v.toInt64() ? "true" : "false";
    case T::Byte:
    case T::Integer:
    case T::Long: return std::to_string(v.toInt64());
    case T::Single:
    case T::Double: return jsonNumber(v.toDouble());
    case T::Currency: {
      int64_t u = v.currencyUnits();
      bool neg = u < 0;
      uint64_t a = neg ? uint64_t(0) - uint64_t(u) : uint64_t(u);
      char buf[48];
      std::snprintf(buf, sizeof buf, "%s%llu.%04llu", neg ? "-" : "", (unsigned long long)(a / 10000),
                    (unsigned long long)(a % 10000));
      return jsonString(buf);
    }
    case T::Date: return jsonString(oleDateToIso(v.toDouble()));
    case T::Text: return jsonString(v.toText());
  }
  return "null";
}

}  // namespace

bool dumpJson(Database& db, const std::string& onlyTable, std::string& out) {
  out = "{\n \"tables\": {";
  bool firstTable = true;
  bool found = onlyTable.empty();
  for (const auto& t : db.tables()) {
    if (!onlyTable.empty() && common::asciiLower(t.name) != common::asciiLower(onlyTable)) continue;
    found = true;
    out += firstTable ? "\n  " : ",\n  ";
    firstTable = false;
    out += jsonString(t.name) + ": {\n   \"columns\": [";
    for (std::size_t i = 0; i < t.columns.size(); ++i) {
      const auto& c = t.columns[i];
      out += (i ? ",\n    " : "\n    ");
      out += "{\"name\": " + jsonString(c.name) + ", \"type\": " + jsonString(jetTypeName(c.type)) +
             ", \"size\": " + std::to_string(c.size) + "}";
    }
    out += "\n   ],\n   \"rowCount\": " + std::to_string(t.rowCount) + ",\n   \"rows\": [";
    std::string quoted = "[";
    for (char ch : t.name) quoted += ch == ']' ? std::string("]]") : std::string(1, ch);
    ResultSet rs = db.execute("select * from " + quoted + "]");
    const std::size_t n = rs.names.size();
    for (std::size_t r = 0; r < rs.rows; ++r) {
      out += (r ? ",\n    {" : "\n    {");
      for (std::size_t i = 0; i < n && i < t.columns.size(); ++i) {
        if (i) out += ", ";
        out += jsonString(t.columns[i].name) + ": " + jsonValue(rs.cells[r * n + i]);
      }
      out += "}";
    }
    out += rs.rows ? "\n   ]\n  }" : "]\n  }";
  }
  out += firstTable ? "}\n}\n" : "\n }\n}\n";
  return found;
}

}  // namespace ado
