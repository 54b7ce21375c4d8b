// velmora-cli dump FILE [--password PW] [--table NAME]: the file's user tables as JSON.
#include <cmath>
#include <cstdio>

#include "commands.h"
#include "json.h"
#include "platform/database/jet_database.h"

namespace {

std::string jsonValue(const ado::Variant& v) {
  using T = ado::Variant::Type;
  switch (v.type()) {
    case T::Null: return "null";
    case T::Boolean: return v.toInt64() ? "true" : "false";
    case T::Byte:
    case T::Integer:
    case T::Long: return std::to_string(v.toInt64());
    case T::Single:
    case T::Double: return cli::jsonNumber(v.toDouble());
    case T::Currency: {
      int64_t u = v.currencyUnits();
      bool neg = u < 0;
      uint64_t a = neg ? uint64_t(0) - uint64_t(u) : uint64_t(u);
      char buf[48];
      std::snprintf(buf, sizeof buf, "%s%llu.%04llu", neg ? "-" : "", (unsigned long long)(a / 10000),
                    (unsigned long long)(a % 10000));
      return cli::jsonString(buf);
    }
    case T::Date: return cli::jsonString(ado::oleDateToIso(v.toDouble()));
    case T::Text: return cli::jsonString(v.toText());
  }
  return "null";
}

std::string lowerAscii(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

int runDump(const std::vector<std::string>& args) {
  cli::Options o = cli::parseOptions(args);
  if (!o.ok || o.positional.size() != 1) {
    std::fprintf(stderr, "usage: velmora-cli dump FILE [--password PW] [--table NAME]\n%s\n",
                 o.problem.c_str());
    return 2;
  }
  try {
    auto db = ado::Database::open(o.positional[0], o.password);
    std::string out = "{\n \"tables\": {";
    bool firstTable = true;
    bool found = o.table.empty();
    for (const auto& t : db->tables()) {
      if (!o.table.empty() && lowerAscii(t.name) != lowerAscii(o.table)) continue;
      found = true;
      out += firstTable ? "\n  " : ",\n  ";
      firstTable = false;
      out += cli::jsonString(t.name) + ": {\n   \"columns\": [";
      for (std::size_t i = 0; i < t.columns.size(); ++i) {
        const auto& c = t.columns[i];
        out += (i ? ",\n    " : "\n    ");
        out += "{\"name\": " + cli::jsonString(c.name) + ", \"type\": " +
               cli::jsonString(ado::jetTypeName(c.type)) + ", \"size\": " + std::to_string(c.size) + "}";
      }
      out += "\n   ],\n   \"rowCount\": " + std::to_string(t.rowCount) + ",\n   \"rows\": [";
      std::string quoted = "[";
      for (char ch : t.name) quoted += ch == ']' ? std::string("]]") : std::string(1, ch);
      ado::ResultSet rs = db->execute("select * from " + quoted + "]");
      const std::size_t n = rs.names.size();
      for (std::size_t r = 0; r < rs.rows; ++r) {
        out += (r ? ",\n    {" : "\n    {");
        for (std::size_t i = 0; i < n; ++i) {
          if (i) out += ", ";
          out += cli::jsonString(t.columns[i].name) + ": " + jsonValue(rs.cells[r * n + i]);
        }
        out += "}";
      }
      out += rs.rows ? "\n   ]\n  }" : "]\n  }";
    }
    out += firstTable ? "}\n}\n" : "\n }\n}\n";
    if (!found) {
      std::fprintf(stderr, "velmora-cli: no table '%s'\n", o.table.c_str());
      return 1;
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
  } catch (const ado::Error& e) {
    return cli::reportError(e.number, e.description);
  }
}

}  // namespace

VELMORA_CLI_COMMAND(dump, "dump FILE [--password PW] [--table NAME]", runDump);
